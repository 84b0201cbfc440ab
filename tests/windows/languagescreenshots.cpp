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

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/* A program folder with the shipped language files, one without a flag, and the setting. */
bool PrepareProgramFolder(const QString &folder, const QString &languageFile)
{
    const QDir shipped(QStringLiteral(TESSALY_LANGUAGES_DIR));
    QDir().mkpath(folder + QStringLiteral("/Languages"));
    for (const QString &name : shipped.entryList(QDir::Files))
        QFile::copy(shipped.filePath(name), folder + QStringLiteral("/Languages/") + name);
    bool ok = WriteFile(folder + QStringLiteral("/Languages/Latin.lang.txt"),
                        "{INFO:Translated By}Ana, Ben ,Cem\r\n");
    if (!languageFile.isEmpty())
        ok = WriteFile(folder + QStringLiteral("/settings.ini"),
                       "[Settings]\r\nLanguageFile=" + languageFile.toUtf8() + "\r\n") && ok;
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
    if (!PrepareProgramFolder(program.path(), arguments.value(3)))
        return 1;
    RunStartup(program.filePath(QStringLiteral("tessaly")), 1033);

    TTranslateForm window([](const QString &, QString *) { return true; }, DataDir());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const QRect frame = window.frameGeometry();
    bool ok = SaveScreenArea(frame, out + QStringLiteral("-language.png"));

    window.ComboBox1->showPopup();
    QWidget *popup = window.ComboBox1->view()->window();
    ok = SaveScreenArea(frame.united(popup->frameGeometry()), out + QStringLiteral("-language-list.png")) && ok;
    window.ComboBox1->hidePopup();

    // Another language and OK: the confirmation, answered No.
    window.ComboBox1->setCurrentIndex(window.ComboBox1->findText(QStringLiteral("Latin")));
    QTimer::singleShot(400, &window, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            ok = false;
            return;
        }
        ok = SaveScreenArea(frame.united(box->frameGeometry()), out + QStringLiteral("-language-confirm.png")) && ok;
        box->button(QMessageBox::No)->click();
    });
    window.BitBtn1->click();
    return ok ? 0 : 1;
}
