// Takes screenshots of the main window on a real X display: at start, with two files loaded,
// and with the export menu (and its CSV submenu) open. tools/screenshots.sh runs it under
// xvfb-run, once in English and once in German.
//
//     tessaly_screenshots OUTPUT_FOLDER PREFIX VCF_FILE

#include "core/startup.h"
#include "windows/mainwindow.h"
#include "widgets/dialogs.h"

#include "screenshot.h"

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
    RunStartup(QCoreApplication::applicationFilePath());
    Dialogs::SetAnsweringMode(true);

    TAppForm form;
    form.move(20, 20);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    const QRect window = form.frameGeometry();
    bool ok = SaveScreenArea(window, folder + u'/' + prefix + QStringLiteral("-start.png"));

    form.Ekle(vcf);
    form.Ekle(vcf);
    ok = SaveScreenArea(window, folder + u'/' + prefix + QStringLiteral("-two-files.png")) && ok;

    // The export menu under its button, with the CSV submenu open.
    QTimer::singleShot(400, &form, [&] {
        form.PopupMenu2->setActiveAction(form.PopupMenu2->actions().constFirst());
        form.CommaseparatedvaluesCSV1->popup(form.PopupMenu2->geometry().topRight());
        QTimer::singleShot(400, &form, [&] {
            const QRect area = window.united(form.PopupMenu2->geometry()).united(form.CommaseparatedvaluesCSV1->geometry());
            ok = SaveScreenArea(area.adjusted(0, 0, 10, 10), folder + u'/' + prefix + QStringLiteral("-export-menu.png")) && ok;
            form.CommaseparatedvaluesCSV1->close();
            form.PopupMenu2->close();
        });
    });
    form.BitBtn2Click();
    form.ClearNow();
    return ok ? 0 : 1;
}
