#include "i18n/languagechoice.h"

#include "i18n/translate.h"
#include "platform/uilanguage.h"
#include "text/textformat.h"
#include "text/textlines.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <new>

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

/*
 * Whether name is a file of folder that may be read: a plain name, without a folder part and
 * not "." or "..", of a file that lies in folder itself, also once links are followed.
 */
bool isFileInFolder(const QString &folder, const QString &name)
{
    if (name == u"." || name == u".." || name.contains(u'/'))
        return false;
    const QFileInfo file(folder + u'/' + name);
    if (!file.isFile())
        return false;
    const QString real = file.canonicalFilePath();
    return !real.isEmpty() && QFileInfo(real).absolutePath() == QFileInfo(folder).canonicalFilePath();
}

/* The language identifier's line of LanguageCodes.csv names a file: the name, or empty. */
QString nameInLanguageCodes(const QString &codesPath, quint16 langId)
{
    TextLines lines;
    readTextLines(codesPath, TextEncoding::Ansi, lines, nullptr); // unreadable counts as no lines
    const QString id = QString::number(langId);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i);
        const qsizetype comma = line.indexOf(u',');
        if (comma >= 0 && trimControlAndBlank(line.first(comma)) == id)
            return trimControlAndBlank(line.sliced(comma + 1));
    }
    return {};
}

/* The file that LanguageCodes.csv assigns to the language identifier, in its listed form. */
QString chooseByLanguageCodes(const LanguageFolder &folder, quint16 langId)
{
    const QString codesPath = folder.dir + QStringLiteral("/LanguageCodes.csv");
    if (!QFileInfo(codesPath).isFile())
        return {};
    QString csvName;
    try {
        csvName = nameInLanguageCodes(codesPath, langId);
    } catch (const std::bad_alloc &) {
        return {}; // a file too large for the memory counts as unreadable too
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
        if (isFileInFolder(folder.dir, entry.fileName()))
            folder.files.append(entry.fileName());
    }

    QString chosen = configured;
    if (trimControlAndBlank(configured).isEmpty()) {
        const QString byCode = chooseByLanguageCodes(folder, langId);
        if (!byCode.isEmpty())
            chosen = byCode;
    }
    // Only a file of the folder is read: a path elsewhere counts as a missing file. A FIFO,
    // device or folder of that name is never opened (a FIFO would keep the start waiting).
    if (trimControlAndBlank(chosen).isEmpty() || !isFileInFolder(folder.dir, chosen)) {
        const QFileInfo entry(folder.dir + u'/' + chosen);
        const bool plainName = !chosen.contains(u'/') && chosen != u"." && chosen != u"..";
        if (plainName && !trimControlAndBlank(chosen).isEmpty() && entry.exists() && !entry.isFile()) {
            if (error)
                *error = formatText(QStringLiteral("Cannot open file \"%s\". %s"),
                                    {entry.filePath(), QStringLiteral("Not a regular file")});
            return false;
        }
        return true;
    }

    const QString path = folder.dir + u'/' + chosen;
    const qsizetype suffix = chosen.indexOf(QLatin1String(".lang.txt"));
    const QString name = suffix < 0 ? QString() : chosen.first(suffix);
    QStringList lines;
    QString readError;
    if (!readLanguageLines(path, lines, &readError)) {
        // The file stays the active one, without lines: every text is shown in English.
        setActiveLanguage(path, name, {});
        if (error)
            *error = readError;
        return false;
    }
    setActiveLanguage(path, name, lines);
    return true;
}

bool readLanguageLines(const QString &path, QStringList &lines, QString *error)
{
    lines.clear();
    try {
        TextLines read;
        if (!readTextLines(path, TextEncoding::Utf8, read, error))
            return false;
        lines = read.toStringList();
        return true;
    } catch (const std::bad_alloc &) {
        if (error)
            *error = notEnoughMemoryToReadMessage(path);
        return false;
    }
}
