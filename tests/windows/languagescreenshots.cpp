// Takes screenshots of the language window on a real X display: the window, the window with
// its list open, and the confirmation asked when another language is chosen.
// tools/language-screenshots.sh runs it under xvfb-run, once in English and once in German.
//
//     tessaly_language_screenshots OUTPUT_FOLDER PREFIX [LANGUAGE_FILE]
//
// The program folder is a temporary one holding the shipped language files and one more,
// "Latin.lang.txt", whose name has no flag of its own; LANGUAGE_FILE is stored as the chosen
// language before the start-up runs.

#include "core/startup.h"
#include "windows/languagewindow.h"

#include "screenshot.h"
#include "windowtesting.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/* A program folder with the shipped language files, one without a flag, and the setting. */
bool prepareProgramFolder(const QString &folder, const QString &languageFile)
{
    const QDir shipped(QStringLiteral(TESSALY_LANGUAGES_DIR));
    QDir().mkpath(folder + QStringLiteral("/Languages"));
    for (const QString &name : shipped.entryList(QDir::Files))
        QFile::copy(shipped.filePath(name), folder + QStringLiteral("/Languages/") + name);
    bool ok = writeFile(folder + QStringLiteral("/Languages/Latin.lang.txt"), "{INFO:Translated By}Ana, Ben ,Cem\r\n");
    if (!languageFile.isEmpty())
        ok = writeFile(folder + QStringLiteral("/settings.ini"),
                       "[Settings]\r\nLanguageFile=" + languageFile.toUtf8() + "\r\n")
             && ok;
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3 || arguments.size() > 4) {
        std::fprintf(stderr, "usage: tessaly_language_screenshots OUTPUT_FOLDER PREFIX [LANGUAGE_FILE]\n");
        return 2;
    }
    const QString out = arguments.at(1) + u'/' + arguments.at(2);
    QTemporaryDir program;
    if (!prepareProgramFolder(program.path(), arguments.value(3)))
        return 1;
    runStartup(program.filePath(QStringLiteral("tessaly")), 1033);

    LanguageWindow window([](const QString &, QString *) { return true; }, dataDir());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const QRect frame = window.frameGeometry();
    bool ok = saveScreenArea(frame, out + QStringLiteral("-language.png"));

    WindowTesting::control<QComboBox>(window, "languageCombo")->showPopup();
    QWidget *popup = WindowTesting::control<QComboBox>(window, "languageCombo")->view()->window();
    ok = saveScreenArea(frame.united(popup->frameGeometry()), out + QStringLiteral("-language-list.png")) && ok;
    WindowTesting::control<QComboBox>(window, "languageCombo")->hidePopup();

    // Another language and OK: the confirmation, answered No.
    WindowTesting::control<QComboBox>(window, "languageCombo")
        ->setCurrentIndex(
            WindowTesting::control<QComboBox>(window, "languageCombo")->findText(QStringLiteral("Latin")));
    QTimer::singleShot(400, &window, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            ok = false;
            return;
        }
        ok = saveScreenArea(frame.united(box->frameGeometry()), out + QStringLiteral("-language-confirm.png")) && ok;
        box->button(QMessageBox::No)->click();
    });
    WindowTesting::control<QPushButton>(window, "okButton")->click();
    return ok ? 0 : 1;
}
