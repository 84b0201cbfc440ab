// Language files and LanguageCodes.csv on arbitrary bytes. The input is both the language file
// "German.lang.txt" and the code list of a scratch Languages folder: the choice by language
// identifier runs for the identifiers the input names, and the active language's lookups must
// agree with the plain lookup in its lines.

#include "fuzzsupport.h"

#include "i18n/languagechoice.h"
#include "i18n/translate.h"
#include "text/textlines.h"

#include <cstdint>

namespace {

QString programFolder()
{
    static const QString folder = [] {
        const QString path = scratchDir().filePath(QStringLiteral("program"));
        QDir().mkpath(path + QStringLiteral("/Languages"));
        return path;
    }();
    return folder;
}

/* Texts the program translates, and the keys and key prefixes the input's lines spell. */
QStringList keysToLookUp(const QStringList &lines)
{
    QStringList keys = {QStringLiteral("Clear"), QStringLiteral("Filename: %s"), QStringLiteral("WARNING"), QString()};
    for (const QString &line : lines.first(std::min<qsizetype>(lines.size(), 16))) {
        const qsizetype close = line.indexOf(u'}');
        if (line.startsWith(u'{') && close > 0) {
            keys.append(line.sliced(1, close - 1));
            keys.append(line.sliced(1, (close - 1) / 2));
        }
    }
    return keys;
}

/* Translate gives the plain lookup's text, or the source where that text is empty or missing. */
void checkLookups(const QStringList &lines)
{
    for (const QString &key : keysToLookUp(lines)) {
        const QString translated = translate(key);
        if (key.contains(u'}'))
            continue; // no entry line can carry such a key
        const QString looked = lookupInLines(key, lines);
        FUZZ_CHECK(translated == (looked.isEmpty() ? key : looked),
                   key + QStringLiteral(" -> ") + translated + QStringLiteral(" | ") + looked);
        // A translated text never acts as a format: each "%s" takes one value, the rest stays.
        const QString formatted = formatText(translated, QStringList{QStringLiteral("%s%d"), QStringLiteral("x")});
        const qsizetype markers = translated.count(QStringLiteral("%s"));
        const qsizetype expected = translated.size() + (markers >= 1 ? 2 : 0) - (markers >= 2 ? 1 : 0);
        FUZZ_CHECK(formatted.size() == expected, formatted);
    }
}

/* Identifiers the code list names: the number before each line's first comma. */
QList<quint16> namedIdentifiers(const TextLines &codes)
{
    QList<quint16> ids = {1031};
    for (qsizetype i = 0; i < std::min<qsizetype>(codes.size(), 4); ++i) {
        const QString line = codes.at(i);
        bool ok = false;
        const uint id = line.section(u',', 0, 0).trimmed().toUInt(&ok);
        if (ok && id <= 0xFFFF)
            ids.append(quint16(id));
    }
    return ids;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    const QString folder = programFolder();
    const QString languageFile
        = writeScratchFile(QStringLiteral("program/Languages/German.lang.txt"), bytes, qsizetype(size));
    const QString codesFile
        = writeScratchFile(QStringLiteral("program/Languages/LanguageCodes.csv"), bytes, qsizetype(size));

    TextLines fileLines;
    const bool readable = readTextLines(languageFile, TextEncoding::Utf8, fileLines, nullptr);
    TextLines codes;
    readTextLines(codesFile, TextEncoding::Ansi, codes, nullptr);

    for (const quint16 id : namedIdentifiers(codes)) {
        QString error;
        const bool loaded = loadLanguageFrom(QString(), folder, id, &error);
        FUZZ_CHECK(loaded == readable || languageFilePath().isEmpty(), error);
        FUZZ_CHECK(languageFiles() == QStringList{QStringLiteral("German.lang.txt")});
        if (!languageFilePath().isEmpty()) {
            FUZZ_CHECK(languageFilePath() == languageFile && languageName() == QStringLiteral("German"));
            FUZZ_CHECK(languageLines() == (readable ? fileLines.toStringList() : QStringList()));
        }
    }

    // The user's choice by name, whatever the code list says.
    QString error;
    FUZZ_CHECK(loadLanguageFrom(QStringLiteral("German.lang.txt"), folder, 0, &error) == readable, error);
    FUZZ_CHECK(languageFilePath() == languageFile);
    checkLookups(languageLines());
    return 0;
}
