// Takes screenshots of Qt's own dialogs as the main window shows them, on a real X display with
// a notification area: the save dialog, its overwrite question, the File menu with its
// shortcuts, the question asked when the window is closed during an export, the feedback window
// with a choice panel in focus, and the tray notification after "Close When Written".
// tools/dialog-screenshots.sh runs it in English, German and Russian (LANG picks the language).
//
//     tessaly_dialog_screenshots OUTPUT_FOLDER PREFIX

#include "core/startup.h"
#include "i18n/translate.h"
#include "widgets/dialogs.h"
#include "windows/feedbackwindow.h"
#include "windows/mainwindow.h"

#include "screenshot.h"
#include "windowtesting.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

/* Calls step with the modal widget of type T as soon as one is open, once. */
template<typename T>
void whenModal(std::function<void(T *)> step)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        if (auto *widget = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            step(widget);
        }
    });
    timer->start(50);
}

QWidget *balloon()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && qstrcmp(widget->metaObject()->className(), "QBalloonTip") == 0)
            return widget;
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (app.arguments().size() != 3) {
        std::fprintf(stderr, "usage: tessaly_dialog_screenshots OUTPUT_FOLDER PREFIX\n");
        return 2;
    }
    const QString out = app.arguments().at(1) + u'/' + app.arguments().at(2);
    runStartup(QCoreApplication::applicationFilePath());
    QTemporaryDir dir;
    const QString existing = WindowTesting::writeFile(dir.filePath(QStringLiteral("contacts.csv")), "old");
    const QString cards = WindowTesting::writeFile(dir.filePath(QStringLiteral("cards.vcf")),
                                                   WindowTesting::makeCards(400000, QStringLiteral("Card")));
    bool ok = true;

    // The result of each export is acknowledged as soon as its box is shown, also when it comes
    // over another box.
    QTimer resultCloser;
    QObject::connect(&resultCloser, &QTimer::timeout, [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box && box->windowTitle() == translate(QStringLiteral("SUCCESS")))
            box->accept();
    });
    resultCloser.start(100);

    MainWindow form;
    form.setNotificationTime(4000);
    form.move(20, 20);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    form.loadFile(cards);

    // The save dialog, then the overwrite question over it; "No", and the dialog is cancelled.
    whenModal<QFileDialog>([&](QFileDialog *dialog) {
        dialog->setDirectory(dir.path());
        dialog->move(40, 40);
        QTimer::singleShot(400, dialog, [&, dialog] {
            ok = saveScreenArea(dialog->frameGeometry(), out + QStringLiteral("-save-dialog.png")) && ok;
            whenModal<QMessageBox>([&, dialog](QMessageBox *box) {
                QTimer::singleShot(400, box, [&, dialog, box] {
                    ok = saveScreenArea(dialog->frameGeometry().united(box->frameGeometry()),
                                        out + QStringLiteral("-overwrite.png"))
                         && ok;
                    box->button(QMessageBox::No)->click();
                    QTimer::singleShot(100, dialog, &QDialog::reject);
                });
            });
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            name->setText(QFileInfo(existing).fileName());
            QTest::keyClick(name, Qt::Key_Return);
        });
    });
    form.exportDefaultCsv();

    // The File menu with its shortcuts.
    QTimer::singleShot(300, &form, [&] {
        QTimer::singleShot(400, &form, [&] {
            ok = saveScreenArea(
                     form.frameGeometry().united(WindowTesting::control<QMenu>(form, "fileMenu")->geometry()),
                     out + QStringLiteral("-file-menu.png"))
                 && ok;
            WindowTesting::control<QMenu>(form, "fileMenu")->close();
        });
    });
    WindowTesting::control<QMenu>(form, "fileMenu")
        ->exec(WindowTesting::control<QMenuBar>(form, "mainMenuBar")
                   ->mapToGlobal(QPoint(0, WindowTesting::control<QMenuBar>(form, "mainMenuBar")->height())));

    // The feedback window with "I like it!" in focus and "I dislike it!" chosen.
    {
        FeedbackWindow feedback({appIdentity().appDescription, appIdentity().appCaption, appIdentity().appVersion});
        feedback.move(40, 40);
        feedback.show();
        feedback.activateWindow();
        ok = QTest::qWaitForWindowExposed(&feedback) && ok;
        feedback.onDislikeClicked();
        // Back from the comment to "I like it!" with Shift+Tab, as a keyboard user gets there.
        QTest::keyClick(WindowTesting::control<QPlainTextEdit>(feedback, "feedbackEdit"), Qt::Key_Backtab,
                        Qt::ShiftModifier);
        QTest::keyClick(static_cast<QWidget *>(WindowTesting::control<QFrame>(feedback, "dislikePanel")),
                        Qt::Key_Backtab, Qt::ShiftModifier);
        ok = saveScreenArea(feedback.frameGeometry(), out + QStringLiteral("-feedback-keyboard.png"), 500) && ok;
    }

    // An export of many cards, and the window closed while it runs: "Close When Written".
    whenModal<QFileDialog>([&](QFileDialog *dialog) {
        dialog->setDirectory(dir.path());
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("many.csv"));
        QTimer::singleShot(100, dialog, &QDialog::accept);
    });
    form.exportDefaultCsv();
    bool answered = false;
    whenModal<QMessageBox>([&](QMessageBox *box) {
        QTimer::singleShot(300, box, [&, box] {
            ok = saveScreenArea(form.frameGeometry().united(box->frameGeometry()),
                                out + QStringLiteral("-close-question.png"))
                 && ok;
            box->button(QMessageBox::Yes)->click();
            answered = true;
        });
    });
    QTimer::singleShot(100, &form, &QWidget::close);
    ok = QTest::qWaitFor([&] { return answered; }, 20000) && ok;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        // The window is gone, the tray icon stays, and the result comes as a notification.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect corner(screen.right() - 520, 0, 520, 220);
        ok = saveScreenArea(corner, out + QStringLiteral("-tray-writing.png")) && ok;
        ok = QTest::qWaitFor([&] { return balloon() != nullptr; }, 60000) && ok;
        ok = saveScreenArea(corner, out + QStringLiteral("-tray-notification.png"), 500) && ok;
    } else {
        std::printf("no notification area: no tray screenshots\n");
    }
    form.stopExportsQuietly();
    return ok ? 0 : 1;
}
