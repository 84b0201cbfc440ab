// The windows of the online services, offscreen: the feedback window against a real web server
// on 127.0.0.1 (HTTPS with a test certificate authority, certificates that fail the check, and
// plain HTTP), and the new-version notice. Message boxes and beeps go through the answering
// mode of the dialogs.

#include "i18n/translate.h"
#include "online/emailcheck.h"
#include "online/webrequest.h"
#include "testserver.h"
#include "widgets/dialogs.h"
#include "windows/feedbackwindow.h"
#include "windows/newversionnotice.h"
#include "windowtesting.h"

#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include <memory>

namespace {

const FeedbackProgram kProgram{QStringLiteral("Tessaly"), QStringLiteral("Orvanta - Tessaly"), QStringLiteral("4.2")};

/* The items of a form body as the server received them, each decoded back to "name=value". */
QStringList decodedFields(const QByteArray &body)
{
    QStringList fields;
    for (QByteArray pair : body.split('&')) {
        pair.replace('+', ' ');
        const qsizetype equals = pair.indexOf('=');
        fields.append(QUrl::fromPercentEncoding(pair.left(equals)) + u'='
                      + QUrl::fromPercentEncoding(pair.mid(equals + 1)));
    }
    return fields;
}

CannedReply replyBody(const QByteArray &body)
{
    CannedReply reply;
    reply.body = body;
    return reply;
}

enum class Choice { None, Like, Dislike };

} // namespace

Q_DECLARE_METATYPE(Choice)

class OnlineWindowsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestWebServer> m_server;

    /* A shown feedback window, filled in as the user would. */
    std::unique_ptr<FeedbackWindow> openFeedback(Choice choice, const QString &comment, const QString &address)
    {
        auto form = std::make_unique<FeedbackWindow>(kProgram);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return nullptr;
        if (choice == Choice::Like)
            QTest::mouseClick(WindowTesting::control<QLabel>(form, "likeImage"), Qt::LeftButton);
        if (choice == Choice::Dislike)
            QTest::mouseClick(WindowTesting::control<QFrame>(form, "dislikePanel"), Qt::LeftButton);
        WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit")->setPlainText(comment);
        WindowTesting::control<QLineEdit>(form, "emailEdit")->setText(address);
        return form;
    }

    /* A notice that has finished its opening animation; the link opens nothing but records. */
    QPointer<NewVersionNotice> showNotice(const QString &url, QStringList *opened = nullptr)
    {
        QPointer<NewVersionNotice> notice = new NewVersionNotice(QStringLiteral("Tessaly"), QStringLiteral("4.3"), url);
        notice->setUrlOpener([opened](const QUrl &address) {
            if (opened)
                opened->append(address.toString());
        });
        const bool shown = QTest::qWaitFor(
            [&] { return notice && notice->isVisible() && notice->geometry() == NewVersionNotice::homeGeometry(); },
            2000);
        return shown ? notice : nullptr;
    }

    static bool noticeOnScreen()
    {
        for (QWidget *window : QApplication::topLevelWidgets())
            if (qobject_cast<NewVersionNotice *>(window) && window->isVisible())
                return true;
        return false;
    }

private slots:
    void initTestCase()
    {
        TestWebServer::trustTestAuthority();
        m_server = std::make_unique<TestWebServer>();
        QVERIFY(m_server->isListening());
        qputenv("TESSALY_WEB_HOST", m_server->host().toUtf8());
    }

    void init()
    {
        Dialogs::setAnsweringMode(true);
        clearActiveLanguage();
        m_server->setTlsEnabled(true);
        m_server->setCertificate(ServerCertificate::Trusted);
        m_server->setReply(true, replyBody("OK"));
        m_server->setReply(false, replyBody("OK"));
        m_server->clearRequests();
    }

    void cleanup()
    {
        Dialogs::setAnsweringMode(false);
        clearActiveLanguage();
        // Notices left by a failed test must not disturb the next one.
        for (QWidget *window : QApplication::topLevelWidgets())
            if (qobject_cast<NewVersionNotice *>(window))
                delete window;
    }

    // ---- e-mail address check -------------------------------------------------------------

    void emailAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("valid");
        QTest::newRow("letter at letter dot letter") << QStringLiteral("a@b.c") << true;
        QTest::newRow("usual address") << QStringLiteral("first.last+news@mail-host.example.org") << true;
        QTest::newRow("hyphen and dots inside the domain") << QStringLiteral("a_b@c-d.e-f.g1") << true;
        QTest::newRow("no dot after the at sign") << QStringLiteral("a@bc") << false;
        QTest::newRow("ends in a hyphen") << QStringLiteral("a@b.c-") << false;
        QTest::newRow("ends in a dot") << QStringLiteral("a@b.c.") << false;
        QTest::newRow("nothing before the dot") << QStringLiteral("a@.c") << false;
        QTest::newRow("no at sign") << QStringLiteral("ab.c") << false;
        QTest::newRow("two at signs") << QStringLiteral("a@b@c.d") << false;
        QTest::newRow("blank inside") << QStringLiteral("a b@c.d") << false;
        QTest::newRow("blanks around, untrimmed") << QStringLiteral(" a@b.c ") << false;
        QTest::newRow("letter outside ASCII") << QStringLiteral("j\u00f6rg@b.c") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void emailAddresses()
    {
        QFETCH(QString, address);
        QFETCH(bool, valid);
        QCOMPARE(isValidEmail(address), valid);
    }

    // ---- feedback window ------------------------------------------------------------------

    void feedbackStartsInTheComment()
    {
        FeedbackWindow form(kProgram);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Tessaly feedback"));
        QCOMPARE(form.size(), QSize(525, 326));
        QCOMPARE(QApplication::focusWidget(), WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit"));
        QTest::keyClick(WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit"), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), WindowTesting::control<QLineEdit>(form, "emailEdit"));
        QTest::keyClick(WindowTesting::control<QLineEdit>(form, "emailEdit"), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), WindowTesting::control<QPushButton>(form, "sendButton"));
        QVERIFY(WindowTesting::control<QPushButton>(form, "sendButton")->isDefault());
    }

    void choicePanelsChooseAtMostOne()
    {
        FeedbackWindow form(kProgram);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(!form.isChosen(WindowTesting::control<QFrame>(form, "likePanel"))
                && !form.isChosen(WindowTesting::control<QFrame>(form, "dislikePanel")));
        QTest::mouseClick(WindowTesting::control<QFrame>(form, "likePanel"), Qt::LeftButton);
        QVERIFY(form.isChosen(WindowTesting::control<QFrame>(form, "likePanel"))
                && !form.isChosen(WindowTesting::control<QFrame>(form, "dislikePanel")));
        QTest::mouseClick(WindowTesting::control<QLabel>(form, "dislikeImage"),
                          Qt::LeftButton); // the picture belongs to its panel
        QVERIFY(!form.isChosen(WindowTesting::control<QFrame>(form, "likePanel"))
                && form.isChosen(WindowTesting::control<QFrame>(form, "dislikePanel")));
        QTest::mouseClick(WindowTesting::control<QFrame>(form, "dislikePanel"),
                          Qt::LeftButton); // the chosen one stays chosen
        QVERIFY(!form.isChosen(WindowTesting::control<QFrame>(form, "likePanel"))
                && form.isChosen(WindowTesting::control<QFrame>(form, "dislikePanel")));
        QCOMPARE(WindowTesting::control<QFrame>(form, "dislikePanel")->palette().color(QPalette::Window),
                 form.palette().color(QPalette::Highlight));
        QCOMPARE(WindowTesting::control<QFrame>(form, "dislikePanel")->frameShadow(), QFrame::Sunken);
    }

    void textLengthsAreLimited()
    {
        FeedbackWindow form(kProgram);
        WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit")->insertPlainText(QStringLiteral("start "));
        WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit")->insertPlainText(QString(10050, u'x'));
        QCOMPARE(WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit")->toPlainText().size(), 10000);
        QVERIFY(WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit")
                    ->toPlainText()
                    .startsWith(QStringLiteral("start x")));
        WindowTesting::control<QLineEdit>(form, "emailEdit")->setText(QString(120, u'a'));
        QCOMPARE(WindowTesting::control<QLineEdit>(form, "emailEdit")->text().size(), 100);
    }

    void fieldsOnTheWire_data()
    {
        QTest::addColumn<QStringList>("languageLines");
        QTest::addColumn<Choice>("choice");
        QTest::addColumn<QString>("comment");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("feedback");
        QTest::addColumn<QString>("email"); // empty: no email item

        QTest::newRow("like chosen, empty comment")
            << QStringList() << Choice::Like << QString() << QString() << QStringLiteral("I like it!\r") << QString();
        QTest::newRow("translated caption in brackets")
            << QStringList{QStringLiteral("{I like it!}Gef\u00e4llt mir!")} << Choice::Like << QStringLiteral("Gut")
            << QString() << QStringLiteral("I like it! (Gef\u00e4llt mir!)\rGut") << QString();
        QTest::newRow("comment trimmed outside, line breaks kept inside")
            << QStringList() << Choice::Dislike << QStringLiteral(" \n\t first line\n\nsecond line \n\n")
            << QStringLiteral("  a@b.c  ") << QStringLiteral("I dislike it!\rfirst line\r\n\r\nsecond line")
            << QStringLiteral("a@b.c");
        QTest::newRow("comment alone") << QStringList() << Choice::None << QStringLiteral("a & b = c?") << QString()
                                       << QStringLiteral("a & b = c?") << QString();
    }

    void fieldsOnTheWire()
    {
        QFETCH(QStringList, languageLines);
        QFETCH(Choice, choice);
        QFETCH(QString, comment);
        QFETCH(QString, address);
        QFETCH(QString, feedback);
        QFETCH(QString, email);
        if (!languageLines.isEmpty())
            setActiveLanguage(QStringLiteral("Test.lang.txt"), QStringLiteral("Test"), languageLines);

        auto form = openFeedback(choice, comment, address);
        QVERIFY(form);
        form->onSendClicked();

        const QList<ServedRequest> requests = m_server->requests();
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests.at(0).tls);
        QCOMPARE(requests.at(0).method, QByteArray("POST"));
        QCOMPARE(requests.at(0).path, QByteArray("/php/feedback.php"));
        QStringList expected{QStringLiteral("cmd=feedback"), QStringLiteral("appname=Orvanta - Tessaly"),
                             QStringLiteral("version=4.2"), QStringLiteral("feedback=") + feedback};
        if (!email.isEmpty())
            expected.append(QStringLiteral("email=") + email);
        QCOMPARE(decodedFields(requests.at(0).body), expected);
    }

    void nothingToSendBeeps()
    {
        auto form = openFeedback(Choice::None, QStringLiteral("  \n\t\n   \n"), QStringLiteral("a@b.c"));
        QVERIFY(form);
        form->onSendClicked();
        QCOMPARE(Dialogs::beepCount(), 1);
        const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.at(0).text, QStringLiteral("Write your message in the text box, then click Send again."));
        QVERIFY(m_server->requests().isEmpty());
        QVERIFY(form->isVisible());
    }

    void invalidAddressIsNotSent()
    {
        auto form = openFeedback(Choice::Like, QStringLiteral("Fine"), QStringLiteral("a@b.c-"));
        QVERIFY(form);
        form->onSendClicked();
        const QList<Dialogs::ShownMessage> shown = Dialogs::takeShownMessages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.at(0).icon, MessageIcon::Error);
        QCOMPARE(shown.at(0).caption, QStringLiteral("Failure"));
        QCOMPARE(shown.at(0).text, QStringLiteral("Invalid e-mail address!"));
        QVERIFY(m_server->requests().isEmpty());
        QVERIFY(form->isVisible());
    }

    void deliveredOnlyOnOK_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("OK and a line break") << QByteArray("OK\r\n") << true;
        QTest::newRow("OK between blanks") << QByteArray("  OK \n") << true;
        QTest::newRow("ok in lower case") << QByteArray("ok") << false;
        QTest::newRow("OK and a second line") << QByteArray("OK\r\nmore") << false;
        QTest::newRow("empty reply") << QByteArray() << false;
    }

    void deliveredOnlyOnOK()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, delivered);
        m_server->setReply(true, replyBody(reply));
        auto form = openFeedback(Choice::Like, QString(), QString());
        QVERIFY(form);
        form->onSendClicked();

        const QList<Dialogs::ShownMessage> shown = Dialogs::takeShownMessages();
        QCOMPARE(shown.size(), 1);
        if (delivered) {
            QCOMPARE(shown.at(0).icon, MessageIcon::Information);
            QCOMPARE(shown.at(0).caption, QStringLiteral("Success"));
            QCOMPARE(shown.at(0).text, QStringLiteral("Your feedback is received.\r\rThank you!"));
            QVERIFY(!form->isVisible());
            QCOMPARE(form->result(), int(QDialog::Accepted));
        } else {
            QCOMPARE(shown.at(0).icon, MessageIcon::Error);
            QCOMPARE(shown.at(0).caption, QStringLiteral("Failure"));
            QCOMPARE(shown.at(0).text, QStringLiteral("Something went wrong. Your feedback could not be "
                                                      "delivered.\r\rPlease try again later."));
            QVERIFY(form->isVisible());
        }
        // A reply over HTTPS, whatever it says, is the answer: no second attempt.
        QCOMPARE(m_server->requests().size(), 1);
    }

    void sentOnlyOverVerifiedHttps_data()
    {
        QTest::addColumn<bool>("tlsEnabled");
        QTest::addColumn<ServerCertificate>("certificate");
        QTest::newRow("plain HTTP only") << false << ServerCertificate::Trusted;
        QTest::newRow("self-signed certificate") << true << ServerCertificate::SelfSigned;
        QTest::newRow("certificate for another host") << true << ServerCertificate::OtherHost;
    }

    void sentOnlyOverVerifiedHttps()
    {
        QFETCH(bool, tlsEnabled);
        QFETCH(ServerCertificate, certificate);
        m_server->setTlsEnabled(tlsEnabled);
        m_server->setCertificate(certificate);
        m_server->setReply(false, replyBody("OK\r\n"));
        auto form = openFeedback(Choice::Dislike, QStringLiteral("Too slow"), QStringLiteral("me@example.org"));
        QVERIFY(form);
        form->onSendClicked();

        // Nothing reached the server, and the user sees what an unreachable server gives.
        QVERIFY(m_server->requests().isEmpty());
        const QList<Dialogs::ShownMessage> shown = Dialogs::takeShownMessages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.at(0).icon, MessageIcon::Error);
        QCOMPARE(shown.at(0).caption, QStringLiteral("Failure"));
        QCOMPARE(shown.at(0).text, QStringLiteral("Something went wrong. Your feedback could not be "
                                                  "delivered.\r\rPlease try again later."));
        QVERIFY(form->isVisible());
        QVERIFY(form->isChosen(WindowTesting::control<QFrame>(form, "dislikePanel")));
        QCOMPARE(WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit")->toPlainText(),
                 QStringLiteral("Too slow"));
        QCOMPARE(WindowTesting::control<QLineEdit>(form, "emailEdit")->text(), QStringLiteral("me@example.org"));

        // The same window delivers once the server shows a certificate that passes the check.
        m_server->setTlsEnabled(true);
        m_server->setCertificate(ServerCertificate::Trusted);
        form->onSendClicked();
        const QList<ServedRequest> requests = m_server->requests();
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests.at(0).tls);
        QCOMPARE(decodedFields(requests.at(0).body).at(4), QStringLiteral("email=me@example.org"));
        QCOMPARE(Dialogs::takeShownMessages().value(0).caption, QStringLiteral("Success"));
        QVERIFY(!form->isVisible());
    }

    void failedSendKeepsWhatWasEntered()
    {
        // No server at all on that port: the request fails at once.
        quint16 closedPort = 0;
        {
            TestWebServer gone;
            closedPort = gone.port();
        }
        auto form = openFeedback(Choice::Like, QStringLiteral("line one\nline two"), QStringLiteral(" me@example.org"));
        QVERIFY(form);
        qputenv("TESSALY_WEB_HOST", QByteArrayLiteral("127.0.0.1:") + QByteArray::number(closedPort));
        form->onSendClicked();
        qputenv("TESSALY_WEB_HOST", m_server->host().toUtf8());

        const QList<Dialogs::ShownMessage> shown = Dialogs::takeShownMessages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.at(0).caption, QStringLiteral("Failure"));
        QVERIFY(form->isVisible());
        QVERIFY(form->isChosen(WindowTesting::control<QFrame>(form, "likePanel")));
        QVERIFY(!form->isChosen(WindowTesting::control<QFrame>(form, "dislikePanel")));
        QCOMPARE(WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit")->toPlainText(),
                 QStringLiteral("line one\nline two"));
        QCOMPARE(WindowTesting::control<QLineEdit>(form, "emailEdit")->text(), QStringLiteral(" me@example.org"));

        // The same window sends it all once the server is back.
        form->onSendClicked();
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(decodedFields(m_server->requests().at(0).body).at(3),
                 QStringLiteral("feedback=I like it!\rline one\r\nline two"));
        QCOMPARE(decodedFields(m_server->requests().at(0).body).at(4), QStringLiteral("email=me@example.org"));
        QVERIFY(!form->isVisible());
    }

    void keys_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("sends"); // Send was pressed: with nothing entered, a beep
        QTest::addColumn<bool>("closes");
        QTest::newRow("Enter in the comment")
            << QStringLiteral("feedbackEdit") << int(Qt::Key_Return) << false << false;
        QTest::newRow("Enter in the address") << QStringLiteral("emailEdit") << int(Qt::Key_Return) << true << false;
        QTest::newRow("Enter on Send") << QStringLiteral("sendButton") << int(Qt::Key_Return) << true << false;
        QTest::newRow("Escape in the comment")
            << QStringLiteral("feedbackEdit") << int(Qt::Key_Escape) << false << true;
        QTest::newRow("Escape in the address") << QStringLiteral("emailEdit") << int(Qt::Key_Escape) << false << true;
        QTest::newRow("Escape on Send") << QStringLiteral("sendButton") << int(Qt::Key_Escape) << false << true;
    }

    void keys()
    {
        QFETCH(QString, widget);
        QFETCH(int, key);
        QFETCH(bool, sends);
        QFETCH(bool, closes);
        FeedbackWindow form(kProgram);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QWidget *target = widget == QStringLiteral("feedbackEdit")
                              ? static_cast<QWidget *>(WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit"))
                          : widget == QStringLiteral("emailEdit")
                              ? static_cast<QWidget *>(WindowTesting::control<QLineEdit>(form, "emailEdit"))
                              : static_cast<QWidget *>(WindowTesting::control<QPushButton>(form, "sendButton"));
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(Dialogs::beepCount(), sends ? 1 : 0);
        QCOMPARE(Dialogs::takeShownMessages().size(), sends ? 1 : 0);
        QCOMPARE(form.isVisible(), !closes);
        if (widget == QStringLiteral("feedbackEdit") && key == Qt::Key_Return)
            QCOMPARE(WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit")->toPlainText(), QStringLiteral("\n"));
        QVERIFY(m_server->requests().isEmpty());
    }

    // ---- new-version notice ---------------------------------------------------------------

    void noticeInTheTopRightCorner()
    {
        QPointer<NewVersionNotice> notice = showNotice(QString());
        QVERIFY(notice);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(notice->geometry(), QRect(screen.right() + 1 - 5 - 320, screen.top() + 5, 320, 68));
        // What the window manager is told: above other windows, no frame, never the focus.
        const Qt::WindowFlags flags = notice->windowHandle()->flags();
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(notice->testAttribute(Qt::WA_ShowWithoutActivating));
    }

    void noticeTexts_data()
    {
        QTest::addColumn<QStringList>("languageLines");
        QTest::addColumn<QString>("heading");
        QTest::addColumn<QString>("link");
        QTest::newRow("English") << QStringList() << QStringLiteral("UPDATE AVAILABLE")
                                 << QStringLiteral("Click to download Tessaly 4.3");
        QTest::newRow("translated") << QStringList{QStringLiteral("{UPDATE AVAILABLE}UPDATE VERF\u00dcGBAR"),
                                                   QStringLiteral("{Click to download}Jetzt herunterladen:")}
                                    << QStringLiteral("UPDATE VERF\u00dcGBAR")
                                    << QStringLiteral("Jetzt herunterladen: Tessaly 4.3");
    }

    void noticeTexts()
    {
        QFETCH(QStringList, languageLines);
        QFETCH(QString, heading);
        QFETCH(QString, link);
        if (!languageLines.isEmpty())
            setActiveLanguage(QStringLiteral("Test.lang.txt"), QStringLiteral("Test"), languageLines);
        NewVersionNotice notice(QStringLiteral("Tessaly"), QStringLiteral("4.3"), QString());
        QCOMPARE(WindowTesting::control<QLabel>(notice, "titleLabel")->text(), heading);
        QCOMPARE(WindowTesting::control<QLabel>(notice, "downloadLink")->text(), link);
        QCOMPARE(WindowTesting::control<QLabel>(notice, "downloadLink")->textFormat(), Qt::PlainText);
    }

    void linkOpensOnlyWebAddresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("opened"); // empty: the home page
        QTest::newRow("https address") << QStringLiteral("https://www.orvanta.example/get/tessaly-4.3.tar.gz")
                                       << QStringLiteral("https://www.orvanta.example/get/tessaly-4.3.tar.gz");
        QTest::newRow("http address, scheme in capitals")
            << QStringLiteral("HTTP://mirror.example/t.zip") << QStringLiteral("http://mirror.example/t.zip");
        QTest::newRow("no address") << QString() << QString();
        QTest::newRow("file address") << QStringLiteral("file:///usr/bin/xterm") << QString();
        QTest::newRow("program path") << QStringLiteral("/usr/bin/xterm") << QString();
        QTest::newRow("other scheme") << QStringLiteral("ftp://mirror.example/t.zip") << QString();
    }

    void linkOpensOnlyWebAddresses()
    {
        QFETCH(QString, url);
        QFETCH(QString, opened);
        QStringList openedAddresses;
        QPointer<NewVersionNotice> notice = showNotice(url, &openedAddresses);
        QVERIFY(notice);
        QTest::mouseClick(WindowTesting::control<QLabel>(notice, "downloadLink"), Qt::LeftButton);
        const QString homePage = QStringLiteral("http://") + m_server->host() + u'/';
        QCOMPARE(openedAddresses, QStringList{opened.isEmpty() ? homePage : opened});
        QTRY_VERIFY(!notice); // closed and gone
    }

    void dragging_data()
    {
        QTest::addColumn<QString>("part");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("moves");
        QTest::newRow("left button on the heading") << QStringLiteral("titleLabel") << int(Qt::LeftButton) << true;
        QTest::newRow("left button on the icon") << QStringLiteral("iconImage") << int(Qt::LeftButton) << true;
        QTest::newRow("middle button on the close column")
            << QStringLiteral("closePanel") << int(Qt::MiddleButton) << true;
        QTest::newRow("right button on the heading") << QStringLiteral("titleLabel") << int(Qt::RightButton) << false;
        QTest::newRow("right button on the panel") << QStringLiteral("framePanel") << int(Qt::RightButton) << false;
        QTest::newRow("left button on the link") << QStringLiteral("downloadLink") << int(Qt::LeftButton) << false;
    }

    void dragging()
    {
        QFETCH(QString, part);
        QFETCH(int, button);
        QFETCH(bool, moves);
        QPointer<NewVersionNotice> notice = showNotice(QString());
        QVERIFY(notice);
        WindowTesting::control<QTimer>(notice, "closeTimer")->stop();
        QWidget *widget = part == QStringLiteral("titleLabel")
                              ? static_cast<QWidget *>(WindowTesting::control<QLabel>(notice, "titleLabel"))
                          : part == QStringLiteral("iconImage")
                              ? static_cast<QWidget *>(WindowTesting::control<QLabel>(notice, "iconImage"))
                          : part == QStringLiteral("closePanel") ? WindowTesting::control<QWidget>(notice, "closePanel")
                          : part == QStringLiteral("framePanel")
                              ? static_cast<QWidget *>(WindowTesting::control<QFrame>(notice, "framePanel"))
                              : static_cast<QWidget *>(WindowTesting::control<QLabel>(notice, "downloadLink"));
        const QPoint start = notice->pos();
        const QPoint grip(widget->width() / 2, widget->height() - 3);
        QTest::mousePress(widget, Qt::MouseButton(button), {}, grip);
        QTest::mouseMove(widget, grip + QPoint(-40, 25));
        QTest::mouseRelease(widget, Qt::MouseButton(button), {}, grip + QPoint(-40, 25));
        QCOMPARE(notice->pos(), moves ? start + QPoint(-40, 25) : start);
        QVERIFY(!notice->isDragging());
        QVERIFY(notice); // the link was pressed but released elsewhere: it stays
    }

    void closesOnTheEleventhTick()
    {
        QPointer<NewVersionNotice> notice = showNotice(QString());
        QVERIFY(notice);
        WindowTesting::control<QTimer>(notice, "closeTimer")->stop(); // the test gives the ticks
        QCursor::setPos(notice->geometry().center());                 // resting on it does not keep it open
        for (int tick = 1; tick <= 10; ++tick)
            notice->onCloseTimer();
        QTest::qWait(300);
        QVERIFY(notice && notice->isVisible());
        notice->onCloseTimer();
        QTRY_VERIFY_WITH_TIMEOUT(!notice, 2000);
        QVERIFY(!noticeOnScreen());
    }

    void closesByItselfWithItsOwnTimer()
    {
        QPointer<NewVersionNotice> notice
            = new NewVersionNotice(QStringLiteral("Tessaly"), QStringLiteral("4.3"), QString());
        WindowTesting::control<QTimer>(notice, "closeTimer")
            ->setInterval(30); // the countdown in fast motion: eleven ticks, about 0.3 s
        QTRY_VERIFY_WITH_TIMEOUT(!notice, 3000);
        QVERIFY(!noticeOnScreen());
    }

    void earlyCloseStaysClosed()
    {
        QPointer<NewVersionNotice> notice = showNotice(QString());
        QVERIFY(notice);
        WindowTesting::control<QTimer>(notice, "closeTimer")->setInterval(30);
        QTest::mouseClick(WindowTesting::control<QToolButton>(notice, "closeButton"), Qt::LeftButton);
        QTRY_VERIFY(!notice);
        QTest::qWait(600); // longer than the rest of the fast countdown
        QVERIFY(!noticeOnScreen());
    }

    void linkColourFollowsThePointer()
    {
        QPointer<NewVersionNotice> notice = showNotice(QString());
        QVERIFY(notice);
        WindowTesting::control<QTimer>(notice, "closeTimer")->stop();
        const QColor highlight = notice->palette().color(QPalette::Highlight);
        const QColor text = notice->palette().color(QPalette::WindowText);
        QCursor::setPos(WindowTesting::control<QLabel>(notice, "downloadLink")
                            ->mapToGlobal(WindowTesting::control<QLabel>(notice, "downloadLink")->rect().center()));
        QTRY_COMPARE(WindowTesting::control<QLabel>(notice, "downloadLink")->palette().color(QPalette::WindowText),
                     highlight);
        QCursor::setPos(WindowTesting::control<QLabel>(notice, "titleLabel")
                            ->mapToGlobal(WindowTesting::control<QLabel>(notice, "titleLabel")->rect().center()));
        QTRY_COMPARE(WindowTesting::control<QLabel>(notice, "downloadLink")->palette().color(QPalette::WindowText),
                     text);
    }
};

QTEST_MAIN(OnlineWindowsTest)
#include "tst_onlinewindows.moc"
