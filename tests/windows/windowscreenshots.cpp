// Takes screenshots of the main window on a real X display: at start, with two files loaded,
// with the export menu (and its CSV submenu) open, without and with All fields checked, and
// with the File menu opened by its Alt letter, which shows the captions' underlined letters.
// tools/screenshots.sh runs it under xvfb-run, once in English and once in German.
//
//     tessaly_screenshots OUTPUT_FOLDER PREFIX VCF_FILE

#include "core/startup.h"
#include "widgets/dialogs.h"
#include "windows/mainwindow.h"

#include "screenshot.h"
#include "windowtesting.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (app.arguments().size() != 4) {
        std::fprintf(stderr, "usage: tessaly_screenshots OUTPUT_FOLDER PREFIX VCF_FILE\n");
        return 2;
    }
    const QString folder = app.arguments().at(1);
    const QString prefix = app.arguments().at(2);
    const QString vcf = app.arguments().at(3);
    runStartup(QCoreApplication::applicationFilePath());
    Dialogs::setAnsweringMode(true);

    MainWindow form;
    form.move(20, 20);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    const QRect window = form.frameGeometry();
    bool ok = saveScreenArea(window, folder + u'/' + prefix + QStringLiteral("-start.png"));

    form.loadFile(vcf);
    form.loadFile(vcf);
    ok = saveScreenArea(window, folder + u'/' + prefix + QStringLiteral("-two-files.png")) && ok;

    // The export menu under its button, with the CSV submenu open.
    const auto shootExportMenu = [&](const QString &suffix) {
        QTimer::singleShot(400, &form, [&, suffix] {
            WindowTesting::control<QMenu>(form, "exportMenu")
                ->setActiveAction(WindowTesting::control<QMenu>(form, "exportMenu")->actions().constFirst());
            WindowTesting::control<QMenu>(form, "csvMenu")
                ->popup(WindowTesting::control<QMenu>(form, "exportMenu")->geometry().topRight());
            QTimer::singleShot(400, &form, [&, suffix] {
                const QRect area = window.united(WindowTesting::control<QMenu>(form, "exportMenu")->geometry())
                                       .united(WindowTesting::control<QMenu>(form, "csvMenu")->geometry());
                ok = saveScreenArea(area.adjusted(0, 0, 10, 10), folder + u'/' + prefix + suffix) && ok;
                WindowTesting::control<QMenu>(form, "csvMenu")->close();
                WindowTesting::control<QMenu>(form, "exportMenu")->close();
            });
        });
        form.onExportClicked();
    };
    shootExportMenu(QStringLiteral("-export-menu.png"));
    // Again with All fields checked (its check mark, and the Yahoo entry that keeps fifteen
    // columns), then cleared, so that the stored choice stays as it was found.
    auto *allFields = WindowTesting::control<QAction>(form, "allFieldsAction");
    const bool allFieldsBefore = allFields->isChecked();
    if (!allFieldsBefore)
        allFields->trigger();
    QTest::qWait(300); // the entry's queued handler, and past the menu's guard against reopening
    shootExportMenu(QStringLiteral("-export-menu-all-fields.png"));
    if (!allFieldsBefore)
        allFields->trigger();
    QTest::qWait(50);

    // The File menu from the keyboard, with Alt still held; the popup opens and returns at once.
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form))
        std::fprintf(stderr, "the window did not become active\n");
    auto *fileMenu = WindowTesting::control<QMenu>(form, "fileMenu");
    const QKeyCombination fileKey = QKeySequence::mnemonic(fileMenu->title())[0];
    QTest::keyPress(&form, Qt::Key_Alt, Qt::AltModifier);
    QTest::sendKeyEvent(QTest::Press, &form, fileKey.key(), QString(QChar(char16_t(fileKey.key()))).toLower(),
                        Qt::AltModifier);
    if (!QTest::qWaitFor([fileMenu] { return fileMenu->isVisible(); })) {
        std::fprintf(stderr, "the File menu did not open from its Alt letter\n");
        ok = false;
    }
    ok = saveScreenArea(window.united(fileMenu->geometry()).adjusted(0, 0, 10, 10),
                        folder + u'/' + prefix + QStringLiteral("-file-menu.png"))
         && ok;
    fileMenu->close();
    form.clearLoaded();
    return ok ? 0 : 1;
}
