// Takes screenshots of the Preview window on a real X display, opened from the main window's
// File menu entry with a file loaded: once the whole table is shown, and for a large file also
// while the first rows are shown; then with All fields checked, in the default layout and in
// the Yahoo layout.
// tools/preview-screenshots.sh runs it under xvfb-run.
//
//     tessaly_preview_screenshots OUTPUT_FOLDER PREFIX VCF_FILE

#include "core/startup.h"
#include "widgets/dialogs.h"
#include "windows/mainwindow.h"
#include "windows/previewwindow.h"

#include "screenshot.h"
#include "windowtesting.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (app.arguments().size() != 4) {
        std::fprintf(stderr, "usage: tessaly_preview_screenshots OUTPUT_FOLDER PREFIX VCF_FILE\n");
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
    form.loadFile(vcf);

    WindowTesting::control<QAction>(form, "previewAction")->trigger();
    if (!QTest::qWaitFor([&form] { return form.findChild<PreviewWindow *>() != nullptr; }))
        return 1;
    auto *preview = form.findChild<PreviewWindow *>();
    preview->move(60, 80);
    bool ok = true;
    bool wholeShown = false;
    QObject::connect(preview, &PreviewWindow::tableShown, preview, [&wholeShown] { wholeShown = true; });
    QObject::connect(preview, &PreviewWindow::firstRowsShown, preview, [&] {
        ok = saveScreenArea(preview->frameGeometry(), folder + u'/' + prefix + QStringLiteral("-first-rows.png"), 100)
             && ok;
    });
    if (!QTest::qWaitFor([&wholeShown] { return wholeShown; }, 600000))
        return 1;
    ok = saveScreenArea(preview->frameGeometry(), folder + u'/' + prefix + QStringLiteral("-table.png")) && ok;

    // All fields checked in the window: the default layout's columns as the data needs them,
    // then the Yahoo layout, whose name then says that it keeps fifteen columns; cleared
    // afterwards, so that the stored choice stays as it was found.
    auto *allFields = WindowTesting::control<QCheckBox>(preview, "allFieldsCheck");
    const bool allFieldsBefore = allFields->isChecked();
    const auto shotWhenBuilt = [&](const QString &name) {
        if (!QTest::qWaitFor([&wholeShown, preview] { return wholeShown && !preview->isBuilding(); }, 600000))
            return false;
        return saveScreenArea(preview->frameGeometry(), folder + u'/' + prefix + name);
    };
    wholeShown = false;
    if (!allFieldsBefore)
        allFields->click();
    ok = shotWhenBuilt(QStringLiteral("-all-fields.png")) && ok;
    wholeShown = false;
    WindowTesting::control<QComboBox>(preview, "presetCombo")->setCurrentIndex(4);
    ok = shotWhenBuilt(QStringLiteral("-all-fields-yahoo.png")) && ok;
    if (!allFieldsBefore)
        allFields->click();
    return ok ? 0 : 1;
}
