#include "i18n/languagechoice.h"

#include "i18n/translate.h"
#include "platform/uilanguage.h"
#include "text/textformat.h"
#include "text/textlines.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

struct LanguageFolder {
    QString dir;
    QStringList files;
};

LanguageFolder &languageFolder()
{
    static LanguageFolder folder;
    return folder;
}

QString asciiLower(const QString &text)
{
    QString lower = text;
    for (QChar &c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    }
    return lower;
}

/* The file that LanguageCodes.csv assigns to the language identifier, in its listed form. */
QString chooseByLanguageCodes(const LanguageFolder &folder, quint16 langId)
{
    const QString codesPath = folder.dir + QStringLiteral("/LanguageCodes.csv");
    if (!QFileInfo(codesPath).isFile())
        return {};
    TextLines lines;
    readTextLines(codesPath, TextEncoding::Ansi, lines, nullptr); // unreadable counts as no lines
    const QString id = QString::number(langId);
    QString csvName;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i);
        const qsizetype comma = line.indexOf(u',');
        if (comma >= 0 && trimControlAndBlank(line.first(comma)) == id) {
            csvName = trimControlAndBlank(line.sliced(comma + 1));
            break;
        }
    }
    if (csvName.isEmpty())
        return {};
    const QString wanted = asciiLower(csvName);
    for (const QString &file : folder.files) {
        if (asciiLower(file) == wanted)
            return file;
    }
    return {};
}

} // namespace

QString languagesDir()
{
    return languageFolder().dir;
}

QStringList languageFiles()
{
    return languageFolder().files;
}

bool loadLanguage(const QString &configured, QString *error)
{
    return loadLanguageFrom(configured, QCoreApplication::applicationDirPath(), userDefaultUiLanguage(), error);
}

bool loadLanguageFrom(const QString &configured, const QString &programFolder, quint16 langId, QString *error)
{
    LanguageFolder &folder = languageFolder();
    folder.dir = QDir(programFolder).filePath(QStringLiteral("Languages"));
    folder.files.clear();
    clearActiveLanguage();
    if (!QFileInfo(folder.dir).isDir())
        return true;

    const QDir dir(folder.dir, QStringLiteral("*lang.txt"), QDir::Unsorted,
                   QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : dir.entryInfoList()) {
        if (!entry.isDir())
            folder.files.append(entry.fileName());
    }

    QString chosen = configured;
    if (trimControlAndBlank(configured).isEmpty()) {
        const QString byCode = chooseByLanguageCodes(folder, langId);
        if (!byCode.isEmpty())
            chosen = byCode;
    }
    const QString path = folder.dir + u'/' + chosen;
    if (trimControlAndBlank(chosen).isEmpty() || !QFileInfo(path).isFile())
        return true;

    const qsizetype suffix = chosen.indexOf(QLatin1String(".lang.txt"));
    const QString name = suffix < 0 ? QString() : chosen.first(suffix);
    TextLines lines;
    QString readError;
    if (!readTextLines(path, TextEncoding::Utf8, lines, &readError)) {
        // The file stays the active one, without lines: every text is shown in English.
        setActiveLanguage(path, name, {});
        if (error)
            *error = readError;
        return false;
    }
    setActiveLanguage(path, name, lines.toStringList());
    return true;
}
