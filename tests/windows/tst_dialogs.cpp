// The dialog wrapper on its own: answering mode (queued answers, recorded messages, dialogs
// and save requests) and the real message boxes and file dialogs behind it (offscreen).

#include "testfiles.h"
#include "widgets/dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(MessageIcon)

namespace {

QStringList shownTexts(const QList<Dialogs::ShownMessage> &messages)
{
    QStringList texts;
    for (const Dialogs::ShownMessage &message : messages)
        texts.append(message.caption + u'|' + message.text);
    return texts;
}

Dialogs::SaveRequest saveRequest(int filterIndex, const QString &initialPath)
{
    Dialogs::SaveRequest request;
    request.nameFilters = {QStringLiteral("CSV File (*.csv)"), QStringLiteral("Text File (*.txt)")};
    request.filterIndex = filterIndex;
    request.initialPath = initialPath;
    request.defaultSuffix = QStringLiteral("xls");
    return request;
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    // Answering mode.
    void answeringModeStartsAfresh();
    void shownMessagesAreRecorded();
    void askedDialogs_data();
    void askedDialogs();
    void queuedAnswersInOrder();

    // The helpers every dialog uses.
    void escapeAnswer_data();
    void escapeAnswer();
    void displayText_data();
    void displayText();
    void nameFilter_data();
    void nameFilter();
    void suffixOfFilter_data();
    void suffixOfFilter();

    // The real dialogs.
    void messageBoxShowsPlainText_data();
    void messageBoxShowsPlainText();
    void captionedDialog_data();
    void captionedDialog();
    void openDialogSettings();
    void openDialogReturnsTypedNames();
    void saveDialogSettings();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestDialogs::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestDialogs::init()
{
    Dialogs::setAnsweringMode(true);
}

void TestDialogs::cleanup()
{
    // Answering mode with nothing queued or recorded, as the window tests expect it.
    Dialogs::setAnsweringMode(true);
    QCOMPARE(QApplication::activeModalWidget(), nullptr); // every real dialog was closed
}

// ---- answering mode -----------------------------------------------------------------------------

void TestDialogs::answeringModeStartsAfresh()
{
    // Leave one of everything behind: answers queued and records not yet taken.
    Dialogs::setNextDialogAnswer(QMessageBox::Yes);
    Dialogs::setNextOpenFileNames({path(QStringLiteral("a.vcf"))});
    Dialogs::setNextSaveAnswer(Dialogs::SaveAnswer{path(QStringLiteral("a.csv")), 1});
    int handled = 0;
    Dialogs::setMessageHandler([&handled](const Dialogs::ShownMessage &) { ++handled; });
    Dialogs::showMessage(nullptr, MessageIcon::Information, QStringLiteral("Left"), QStringLiteral("behind"));
    Dialogs::beep();
    QCOMPARE(handled, 1);

    for (const bool on : {false, true}) {
        Dialogs::setAnsweringMode(on);
        QCOMPARE(Dialogs::answeringMode(), on);
        QVERIFY(Dialogs::takeShownMessages().isEmpty());
        QVERIFY(Dialogs::takeAskedDialogs().isEmpty());
        QVERIFY(Dialogs::takeSaveRequests().isEmpty());
        QCOMPARE(Dialogs::openDialogCount(), 0);
        QCOMPARE(Dialogs::beepCount(), 0);
    }

    // The queued answers and the handler went too: every dialog counts as cancelled.
    QCOMPARE(Dialogs::showCaptionedDialog(nullptr, QStringLiteral("Sure?"), QMessageBox::Question,
                                          QMessageBox::Yes | QMessageBox::No, QStringLiteral("Confirmation"), {}),
             QMessageBox::No);
    QVERIFY(Dialogs::getOpenFileNames(nullptr, QStringLiteral("VCF Files (*.vcf)")).isEmpty());
    QVERIFY(!Dialogs::getSaveFileName(nullptr, saveRequest(1, QString())));
    Dialogs::showMessage(nullptr, MessageIcon::Information, QStringLiteral("Later"), QStringLiteral("text"));
    QCOMPARE(handled, 1);
    QCOMPARE(Dialogs::takeShownMessages().size(), 1);
}

void TestDialogs::shownMessagesAreRecorded()
{
    // The handler runs while the box counts as open, before showMessage returns.
    QStringList handled;
    int recordedWhenHandled = -1;
    Dialogs::setMessageHandler([&](const Dialogs::ShownMessage &message) {
        handled.append(message.caption + u'|' + message.text);
        recordedWhenHandled = int(Dialogs::takeShownMessages().size());
    });
    Dialogs::showMessage(nullptr, MessageIcon::Warning, QStringLiteral("WARNING"), QStringLiteral("first\r\rpart"));
    QCOMPARE(handled, QStringList{QStringLiteral("WARNING|first\r\rpart")});
    QCOMPARE(recordedWhenHandled, 1); // recorded before the handler ran
    Dialogs::setMessageHandler(nullptr);

    Dialogs::showMessage(nullptr, MessageIcon::Error, QStringLiteral("ERROR"), QStringLiteral("<b>two</b>\r\n"));
    Dialogs::showMessage(nullptr, MessageIcon::Information, QStringLiteral("SUCCESS"), QString());
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    // In order, the text as given: CR characters and markup are kept for the test to read.
    QCOMPARE(shownTexts(messages), QStringList({QStringLiteral("ERROR|<b>two</b>\r\n"), QStringLiteral("SUCCESS|")}));
    QCOMPARE(messages.at(0).icon, MessageIcon::Error);
    QCOMPARE(messages.at(1).icon, MessageIcon::Information);
    QVERIFY(Dialogs::takeShownMessages().isEmpty()); // taking empties the record
    QCOMPARE(handled.size(), 1);
}

void TestDialogs::askedDialogs_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<int>("queued"); // the queued answer, NoButton for none
    QTest::addColumn<QStringList>("buttonTexts");
    QTest::addColumn<int>("answer");
    QTest::newRow("Yes and No, translated, answered No")
        << int(QMessageBox::Yes | QMessageBox::No) << QStringList{QStringLiteral("Ja"), QStringLiteral("Nein")}
        << int(QMessageBox::No) << QStringList{QStringLiteral("Ja"), QStringLiteral("Nein")} << int(QMessageBox::No);
    QTest::newRow("Yes and No, no answer queued: Esc")
        << int(QMessageBox::Yes | QMessageBox::No) << QStringList{QStringLiteral("Ja"), QStringLiteral("Nein")}
        << int(QMessageBox::NoButton) << QStringList{QStringLiteral("Ja"), QStringLiteral("Nein")}
        << int(QMessageBox::No);
    // The captions go to the buttons in the order of their flags, not in the order given.
    QTest::newRow("Cancel and OK, one caption")
        << int(QMessageBox::Cancel | QMessageBox::Ok) << QStringList{QStringLiteral("Weiter")}
        << int(QMessageBox::NoButton) << QStringList{QStringLiteral("Weiter"), QStringLiteral("Cancel")}
        << int(QMessageBox::Cancel);
    QTest::newRow("OK alone, more captions than buttons")
        << int(QMessageBox::Ok) << QStringList{QStringLiteral("Gut"), QStringLiteral("Extra")}
        << int(QMessageBox::NoButton) << QStringList{QStringLiteral("Gut")} << int(QMessageBox::Ok);
}

void TestDialogs::askedDialogs()
{
    QFETCH(int, buttons);
    QFETCH(QStringList, captions);
    QFETCH(int, queued);
    QFETCH(QStringList, buttonTexts);
    QFETCH(int, answer);
    if (queued != QMessageBox::NoButton)
        Dialogs::setNextDialogAnswer(QMessageBox::StandardButton(queued));
    const QMessageBox::StandardButton given
        = Dialogs::showCaptionedDialog(nullptr, QStringLiteral("Restart?\r\rNow"), QMessageBox::Question,
                                       QMessageBox::StandardButtons(buttons), QStringLiteral("Confirmation"), captions);
    QCOMPARE(int(given), answer);

    const QList<Dialogs::AskedDialog> asked = Dialogs::takeAskedDialogs();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.at(0).kind, QMessageBox::Question);
    QCOMPARE(asked.at(0).caption, QStringLiteral("Confirmation"));
    QCOMPARE(asked.at(0).text, QStringLiteral("Restart?\r\rNow")); // as given
    QCOMPARE(asked.at(0).buttonTexts, buttonTexts);
    QVERIFY(Dialogs::takeAskedDialogs().isEmpty());
    QVERIFY(Dialogs::takeShownMessages().isEmpty()); // a dialog is no message box
}

void TestDialogs::queuedAnswersInOrder()
{
    // Captioned dialogs: answers in the order queued, then Esc.
    Dialogs::setNextDialogAnswer(QMessageBox::Yes);
    Dialogs::setNextDialogAnswer(QMessageBox::No);
    const auto ask = [] {
        return Dialogs::showCaptionedDialog(nullptr, QStringLiteral("?"), QMessageBox::Question,
                                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                            QStringLiteral("Q"), {});
    };
    QCOMPARE(ask(), QMessageBox::Yes);
    QCOMPARE(ask(), QMessageBox::No);
    QCOMPARE(ask(), QMessageBox::Cancel);
    QCOMPARE(Dialogs::takeAskedDialogs().size(), 3);

    // Open dialogs: each answer once, in order; a cancelled dialog counts too.
    const QStringList first{path(QStringLiteral("b.vcf")), path(QStringLiteral("a.vcf"))};
    const QStringList second{path(QStringLiteral("c.vcf"))};
    Dialogs::setNextOpenFileNames(first);
    Dialogs::setNextOpenFileNames(second);
    QCOMPARE(Dialogs::getOpenFileNames(nullptr, QStringLiteral("VCF Files (*.vcf)")), first);
    QCOMPARE(Dialogs::getOpenFileNames(nullptr, QStringLiteral("VCF Files (*.vcf)")), second);
    QVERIFY(Dialogs::getOpenFileNames(nullptr, QStringLiteral("VCF Files (*.vcf)")).isEmpty());
    QCOMPARE(Dialogs::openDialogCount(), 3);

    // Save dialogs: a path, an explicit cancel, a path; then cancelled. Every request is kept.
    Dialogs::setNextSaveAnswer(Dialogs::SaveAnswer{path(QStringLiteral("one.txt")), 2});
    Dialogs::setNextSaveAnswer(std::nullopt);
    Dialogs::setNextSaveAnswer(Dialogs::SaveAnswer{path(QStringLiteral("three.csv")), 1});
    std::optional<Dialogs::SaveAnswer> answer = Dialogs::getSaveFileName(nullptr, saveRequest(1, QString()));
    QVERIFY(answer);
    QCOMPARE(answer->fileName, path(QStringLiteral("one.txt")));
    QCOMPARE(answer->filterIndex, 2);
    QVERIFY(!Dialogs::getSaveFileName(nullptr, saveRequest(2, path(QStringLiteral("one.txt")))));
    answer = Dialogs::getSaveFileName(nullptr, saveRequest(1, path(QStringLiteral("one.txt"))));
    QVERIFY(answer);
    QCOMPARE(answer->fileName, path(QStringLiteral("three.csv")));
    QCOMPARE(answer->filterIndex, 1);
    QVERIFY(!Dialogs::getSaveFileName(nullptr, saveRequest(2, path(QStringLiteral("three.csv")))));

    const QList<Dialogs::SaveRequest> requests = Dialogs::takeSaveRequests();
    QCOMPARE(requests.size(), 4);
    QCOMPARE(requests.at(0).nameFilters, saveRequest(1, QString()).nameFilters);
    QCOMPARE(requests.at(0).defaultSuffix, QStringLiteral("xls"));
    QList<int> indexes;
    QStringList initialPaths;
    for (const Dialogs::SaveRequest &request : requests) {
        indexes.append(request.filterIndex);
        initialPaths.append(request.initialPath);
    }
    QCOMPARE(indexes, QList<int>({1, 2, 1, 2}));
    QCOMPARE(initialPaths, QStringList({QString(), path(QStringLiteral("one.txt")), path(QStringLiteral("one.txt")),
                                        path(QStringLiteral("three.csv"))}));
    QVERIFY(Dialogs::takeSaveRequests().isEmpty());

    // Beeps are counted, never sounded.
    Dialogs::beep();
    Dialogs::beep();
    QCOMPARE(Dialogs::beepCount(), 2);
}

// ---- helpers ------------------------------------------------------------------------------------

void TestDialogs::escapeAnswer_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("answer");
    QTest::newRow("Cancel before No") << int(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)
                                      << int(QMessageBox::Cancel);
    QTest::newRow("OK and Cancel") << int(QMessageBox::Ok | QMessageBox::Cancel) << int(QMessageBox::Cancel);
    QTest::newRow("Yes and No") << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::No);
    QTest::newRow("the only button") << int(QMessageBox::Retry) << int(QMessageBox::Retry);
    QTest::newRow("two buttons, neither Cancel nor No")
        << int(QMessageBox::Ok | QMessageBox::Retry) << int(QMessageBox::NoButton);
    QTest::newRow("no buttons") << int(QMessageBox::NoButton) << int(QMessageBox::NoButton);
}

void TestDialogs::escapeAnswer()
{
    QFETCH(int, buttons);
    QFETCH(int, answer);
    QCOMPARE(int(Dialogs::escapeAnswer(QMessageBox::StandardButtons(buttons))), answer);
}

void TestDialogs::displayText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("display");
    QTest::newRow("parts joined by two CRs") << QStringLiteral("Process completed!\r\rFilename: /tmp/a.csv")
                                             << QStringLiteral("Process completed!\n\nFilename: /tmp/a.csv");
    QTest::newRow("CR LF is one break") << QStringLiteral("one\r\ntwo\r\n\r\nthree")
                                        << QStringLiteral("one\ntwo\n\nthree");
    QTest::newRow("LF stays") << QStringLiteral("one\ntwo") << QStringLiteral("one\ntwo");
    QTest::newRow("mixed, markup untouched")
        << QStringLiteral("<b>a</b>\r\r\nb\r") << QStringLiteral("<b>a</b>\n\nb\n");
    QTest::newRow("empty") << QString() << QString();
}

void TestDialogs::displayText()
{
    QFETCH(QString, text);
    QFETCH(QString, display);
    QCOMPARE(Dialogs::displayText(text), display);
}

void TestDialogs::nameFilter_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("filter");
    QTest::newRow("pattern added") << QStringLiteral("VCF Files") << QStringLiteral("VCF Files (*.vcf)");
    QTest::newRow("pattern already there")
        << QStringLiteral("VCF Files (*.vcf)") << QStringLiteral("VCF Files (*.vcf)");
    QTest::newRow("a translation naming another pattern")
        << QStringLiteral("vCard-Dateien (*.vcard)") << QStringLiteral("vCard-Dateien (*.vcard) (*.vcf)");
}

void TestDialogs::nameFilter()
{
    QFETCH(QString, description);
    QFETCH(QString, filter);
    QCOMPARE(Dialogs::nameFilter(description, QStringLiteral("*.vcf")), filter);
}

void TestDialogs::suffixOfFilter_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("first") << 1 << QStringLiteral("xls");
    QTest::newRow("four letters") << 2 << QStringLiteral("xlsx");
    QTest::newRow("third") << 3 << QStringLiteral("csv");
    QTest::newRow("no extension in the pattern") << 4 << QString();
    QTest::newRow("0 is no index") << 0 << QString();
    QTest::newRow("past the end") << 5 << QString();
}

void TestDialogs::suffixOfFilter()
{
    QFETCH(int, index);
    QFETCH(QString, suffix);
    const QStringList filters{QStringLiteral("Excel File (*.xls)"), QStringLiteral("Excel 2007 File (*.xlsx)"),
                              QStringLiteral("CSV File (*.csv)"), QStringLiteral("All Files (*)")};
    QCOMPARE(Dialogs::suffixOfFilter(filters, index), suffix);
}

// ---- the real dialogs ---------------------------------------------------------------------------

void TestDialogs::messageBoxShowsPlainText_data()
{
    QTest::addColumn<MessageIcon>("icon");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QMessageBox::Icon>("boxIcon");
    QTest::newRow("error") << MessageIcon::Error << QStringLiteral("ERROR") << QMessageBox::Critical;
    QTest::newRow("warning") << MessageIcon::Warning << QStringLiteral("WARNING") << QMessageBox::Warning;
    QTest::newRow("information") << MessageIcon::Information << QStringLiteral("SUCCESS") << QMessageBox::Information;
}

void TestDialogs::messageBoxShowsPlainText()
{
    QFETCH(MessageIcon, icon);
    QFETCH(QString, caption);
    QFETCH(QMessageBox::Icon, boxIcon);
    Dialogs::setAnsweringMode(false);
    QString shownText;
    QString shownTitle;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        shownText = box->text();
        shownTitle = box->windowTitle();
        format = box->textFormat();
        shownIcon = box->icon();
        box->accept();
    });
    Dialogs::showMessage(nullptr, icon, caption, QStringLiteral("<b>not bold</b>\r\rFilename: /tmp/a&b.csv"));
    QCOMPARE(shownTitle, caption);
    QCOMPARE(shownText, QStringLiteral("<b>not bold</b>\n\nFilename: /tmp/a&b.csv"));
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(shownIcon, boxIcon);
}

void TestDialogs::captionedDialog_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<int>("press");               // the button to click; NoButton: Esc; Abort: the close box
    QTest::addColumn<QStringList>("buttonTexts"); // in the order of the flags
    QTest::addColumn<int>("answer");
    const int yesNo = int(QMessageBox::Yes | QMessageBox::No);
    const QStringList german{QStringLiteral("Ja"), QStringLiteral("Nein")};
    QTest::newRow("Yes clicked") << yesNo << german << int(QMessageBox::Yes) << german << int(QMessageBox::Yes);
    QTest::newRow("Esc answers No") << yesNo << german << int(QMessageBox::NoButton) << german << int(QMessageBox::No);
    QTest::newRow("the close box answers No")
        << yesNo << german << int(QMessageBox::Abort) << german << int(QMessageBox::No);
    QTest::newRow("OK and Cancel, one caption, Esc")
        << int(QMessageBox::Ok | QMessageBox::Cancel) << QStringList{QStringLiteral("Weiter")}
        << int(QMessageBox::NoButton) << QStringList{QStringLiteral("Weiter"), QStringLiteral("Cancel")}
        << int(QMessageBox::Cancel);
    QTest::newRow("OK alone, the close box") << int(QMessageBox::Ok) << QStringList() << int(QMessageBox::Abort)
                                             << QStringList{QStringLiteral("OK")} << int(QMessageBox::Ok);
}

void TestDialogs::captionedDialog()
{
    QFETCH(int, buttons);
    QFETCH(QStringList, captions);
    QFETCH(int, press);
    QFETCH(QStringList, buttonTexts);
    QFETCH(int, answer);
    Dialogs::setAnsweringMode(false);
    struct Seen {
        QString title, text;
        Qt::TextFormat format = Qt::AutoText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttonTexts;
        QAbstractButton *defaultButton = nullptr, *yesButton = nullptr;
    } seen;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.format = box->textFormat();
        seen.icon = box->icon();
        for (uint flag = QMessageBox::FirstButton; flag <= QMessageBox::LastButton; flag <<= 1) {
            if (QAbstractButton *button = box->button(QMessageBox::StandardButton(flag)))
                seen.buttonTexts.append(button->text());
        }
        seen.defaultButton = box->defaultButton();
        seen.yesButton = box->button(QMessageBox::Yes);
        if (press == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else if (press == QMessageBox::Abort)
            box->close();
        else
            box->button(QMessageBox::StandardButton(press))->click();
    });
    const QMessageBox::StandardButton given = Dialogs::showCaptionedDialog(
        nullptr, QStringLiteral("Restart <i>now</i>?\r\rYour files stay."), QMessageBox::Question,
        QMessageBox::StandardButtons(buttons), QStringLiteral("Confirmation"), captions);
    QCOMPARE(seen.title, QStringLiteral("Confirmation"));
    QCOMPARE(seen.text, QStringLiteral("Restart <i>now</i>?\n\nYour files stay."));
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.icon, QMessageBox::Question);
    QCOMPARE(seen.buttonTexts, buttonTexts);
    if (seen.yesButton)
        QCOMPARE(seen.defaultButton, seen.yesButton); // with Yes and No, Yes is the default
    QCOMPARE(int(given), answer);
}

void TestDialogs::openDialogSettings()
{
    Dialogs::setAnsweringMode(false);
    const QString first = writeTestFile(path(QStringLiteral("first.vcf")), "BEGIN:VCARD\r\nEND:VCARD\r\n");
    const QString second = writeTestFile(path(QStringLiteral("second.vcf")), "BEGIN:VCARD\r\nEND:VCARD\r\n");
    struct Seen {
        QStringList filters;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptSave;
    } seen;
    const auto runDialog = [&](const QString &typed, bool accept) {
        QTimer::singleShot(0, [&, typed, accept] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen.filters = dialog->nameFilters();
            seen.mode = dialog->fileMode();
            seen.acceptMode = dialog->acceptMode();
            dialog->setDirectory(m_dir.path());
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(typed);
            if (accept)
                static_cast<QDialog *>(dialog)->accept();
            else
                static_cast<QDialog *>(dialog)->reject();
        });
        return Dialogs::getOpenFileNames(nullptr, QStringLiteral("VCF Files (*.vcf)"));
    };

    // Several files at once, in the order they were chosen.
    QCOMPARE(runDialog(QStringLiteral("\"second.vcf\" \"first.vcf\""), true), QStringList({second, first}));
    QCOMPARE(seen.filters, QStringList{QStringLiteral("VCF Files (*.vcf)")});
    QCOMPARE(seen.mode, QFileDialog::ExistingFiles);
    QCOMPARE(seen.acceptMode, QFileDialog::AcceptOpen);
    // Cancelled: nothing.
    QVERIFY(runDialog(QStringLiteral("first.vcf"), false).isEmpty());
}

void TestDialogs::openDialogReturnsTypedNames()
{
    // Typed into the real dialog as a person would, Enter included: a name that names no file
    // comes back as typed (the window then loads nothing), instead of the dialog staying open
    // with a warning.
    Dialogs::setAnsweringMode(false);
    const QString there = writeTestFile(path(QStringLiteral("there.vcf")), "BEGIN:VCARD\r\nEND:VCARD\r\n");
    const auto typeAndEnter = [&](const QString &typed) {
        bool reached = false;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            auto *name = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
            if (!name)
                return;
            dialog->setDirectory(m_dir.path());
            name->setText(typed);
            QTest::keyClick(name, Qt::Key_Return);
            reached = true;
        });
        // Whatever stays open then (the dialog, a warning over it) is closed, so that a dialog
        // that refuses the name fails the test instead of hanging it.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        closer.start(1000);
        const QStringList chosen = Dialogs::getOpenFileNames(nullptr, QStringLiteral("VCF Files (*.vcf)"));
        return reached ? chosen : QStringList{QStringLiteral("(the dialog was not reached)")};
    };
    QCOMPARE(typeAndEnter(QStringLiteral("there.vcf")), QStringList{there});
    QCOMPARE(typeAndEnter(QStringLiteral("missing.vcf")), QStringList{path(QStringLiteral("missing.vcf"))});
}

void TestDialogs::saveDialogSettings()
{
    Dialogs::setAnsweringMode(false);
    const QStringList filters{QStringLiteral("Excel File (*.xls)"), QStringLiteral("Excel 2007 File (*.xlsx)"),
                              QStringLiteral("CSV File (*.csv)"), QStringLiteral("Text File (*.txt)")};
    struct Seen {
        QString filter;
        bool confirmsOverwrite = false;
        QString typedResult;
    } seen;
    const auto runDialog = [&](int index, const QString &initial, int pickIndex, const QString &typed) {
        QTimer::singleShot(0, [&, pickIndex, typed] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen.filter = dialog->selectedNameFilter();
            seen.confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            if (pickIndex > 0) {
                // As the user does it: choose the type in the list.
                auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
                if (types) {
                    types->setFocus();
                    QTest::keyClick(types, Qt::Key_Home);
                    for (int i = 1; i < pickIndex; ++i)
                        QTest::keyClick(types, Qt::Key_Down);
                }
            }
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(typed);
            static_cast<QDialog *>(dialog)->accept();
        });
        Dialogs::SaveRequest request;
        request.nameFilters = filters;
        request.filterIndex = index;
        request.initialPath = initial;
        request.defaultSuffix = QStringLiteral("xls");
        return Dialogs::getSaveFileName(nullptr, request);
    };

    const QString initial = path(QStringLiteral("earlier.csv"));
    std::optional<Dialogs::SaveAnswer> answer = runDialog(3, initial, 0, QStringLiteral("typed"));
    QVERIFY(answer);
    QCOMPARE(seen.filter, filters.at(2));
    QVERIFY(seen.confirmsOverwrite);
    QCOMPARE(answer->fileName, path(QStringLiteral("typed.csv"))); // the selected type's extension
    QCOMPARE(answer->filterIndex, 3);

    answer = runDialog(1, initial, 2, QStringLiteral("book"));
    QVERIFY(answer);
    QCOMPARE(seen.filter, filters.at(0));
    QCOMPARE(answer->fileName, path(QStringLiteral("book.xlsx")));
    QCOMPARE(answer->filterIndex, 2);

    answer = runDialog(4, initial, 0, QStringLiteral("notes.csv"));
    QVERIFY(answer);
    QCOMPARE(answer->fileName, path(QStringLiteral("notes.csv"))); // a typed extension stays
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
