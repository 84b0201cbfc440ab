// Takes screenshots of the About window on a real X display: two frames of the animation a
// second apart, and the window with its Info menu open. tools/about-screenshots.sh runs it
// under xvfb-run, once in English and once in German.
//
//     tessaly_about_screenshots OUTPUT_FOLDER PREFIX

#include "core/startup.h"
#include "widgets/dialogs.h"
#include "windows/aboutwindow.h"

#include "screenshot.h"
#include "windowtesting.h"

#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (app.arguments().size() != 3) {
        std::fprintf(stderr, "usage: tessaly_about_screenshots OUTPUT_FOLDER PREFIX\n");
        return 2;
    }
    const QString folder = app.arguments().at(1);
    const QString prefix = app.arguments().at(2);
    runStartup(QCoreApplication::applicationFilePath());
    Dialogs::setAnsweringMode(true);

    AboutWindow box(appIdentity().appDescription, appIdentity().appVersion);
    box.show();
    if (!QTest::qWaitForWindowExposed(&box))
        return 1;
    const QRect window = box.frameGeometry();
    QTest::qWait(1000);
    bool ok = saveScreenArea(window, folder + u'/' + prefix + QStringLiteral("-about-1.png"), 0);
    QTest::qWait(1000);
    ok = saveScreenArea(window, folder + u'/' + prefix + QStringLiteral("-about-2.png"), 0) && ok;

    // The Info menu under its button.
    QTimer::singleShot(500, &box, [&] {
        WindowTesting::control<QMenu>(box, "infoMenu")
            ->setActiveAction(WindowTesting::control<QMenu>(box, "infoMenu")->actions().constFirst());
        QTimer::singleShot(300, &box, [&] {
            const QRect area
                = window.united(WindowTesting::control<QMenu>(box, "infoMenu")->geometry()).adjusted(0, 0, 10, 10);
            ok = saveScreenArea(area, folder + u'/' + prefix + QStringLiteral("-about-info-menu.png"), 0) && ok;
            WindowTesting::control<QMenu>(box, "infoMenu")->close();
        });
    });
    box.onInfoClicked();
    return ok ? 0 : 1;
}
