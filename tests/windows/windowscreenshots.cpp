// Takes screenshots of the main window on a real X display: at start, with two files loaded,
// and with the export menu (and its CSV submenu) open. tools/screenshots.sh runs it under
// xvfb-run, once in English and once in German.
//
//     tessaly_screenshots OUTPUT_FOLDER PREFIX VCF_FILE

#include "core/startup.h"
#include "widgets/dialogs.h"
#include "windows/mainwindow.h"

#include "screenshot.h"
#include "windowtesting.h"

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
    QTimer::singleShot(400, &form, [&] {
        WindowTesting::control<QMenu>(form, "exportMenu")
            ->setActiveAction(WindowTesting::control<QMenu>(form, "exportMenu")->actions().constFirst());
        WindowTesting::control<QMenu>(form, "csvMenu")
            ->popup(WindowTesting::control<QMenu>(form, "exportMenu")->geometry().topRight());
        QTimer::singleShot(400, &form, [&] {
            const QRect area = window.united(WindowTesting::control<QMenu>(form, "exportMenu")->geometry())
                                   .united(WindowTesting::control<QMenu>(form, "csvMenu")->geometry());
            ok = saveScreenArea(area.adjusted(0, 0, 10, 10),
                                folder + u'/' + prefix + QStringLiteral("-export-menu.png"))
                 && ok;
            WindowTesting::control<QMenu>(form, "csvMenu")->close();
            WindowTesting::control<QMenu>(form, "exportMenu")->close();
        });
    });
    form.onExportClicked();
    form.clearLoaded();
    return ok ? 0 : 1;
}
