/*
 * The language files that ship beside the program, checked against the program's sources:
 * every English text that the sources pass to translate() has a non-empty entry in every shipped
 * file, translations keep the "%s" markers and file patterns the callers rely on, the files are
 * well-formed UTF-8, and LanguageCodes.csv leads the users of each language to its file.
 */
#include "i18n/languagechoice.h"
#include "i18n/translate.h"
#include "platform/uilanguage.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>

#include <optional>

namespace {

QString repositoryPath(const QString &relative)
{
    return QDir::cleanPath(QStringLiteral(TESSALY_TEST_SOURCE_DIR "/../") + relative);
}

const QString kSourceDir = repositoryPath(u"src"_qs);
const QString kLanguagesDir = repositoryPath(u"resources/Languages"_qs);
const QString kInfoKey = u"INFO:Translated By"_qs;

/* The shipped language files and the language whose users get each one automatically. */
struct ShippedLanguage {
    QString fileName;
    QLocale::Language language;
    QLocale::Territory onlyTerritory; // AnyTerritory: every territory of the language
};

const QList<ShippedLanguage> kShipped = {
    {u"German.lang.txt"_qs, QLocale::German, QLocale::AnyTerritory},
    {u"French.lang.txt"_qs, QLocale::French, QLocale::AnyTerritory},
    {u"Spanish.lang.txt"_qs, QLocale::Spanish, QLocale::AnyTerritory},
    {u"Turkish.lang.txt"_qs, QLocale::Turkish, QLocale::AnyTerritory},
    {u"Russian.lang.txt"_qs, QLocale::Russian, QLocale::AnyTerritory},
    {u"PortugueseBrazil.lang.txt"_qs, QLocale::Portuguese, QLocale::Brazil},
};

bool isIdentifierChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

/* The identifier that ends just before position end (empty when none does). */
QString identifierBefore(const QString &code, qsizetype end)
{
    qsizetype start = end;
    while (start > 0 && isIdentifierChar(code[start - 1]))
        --start;
    return code.sliced(start, end - start);
}

bool isStringPrefix(const QString &identifier)
{
    return identifier.isEmpty() || identifier == u"u8" || identifier == u"u" || identifier == u"U"
           || identifier == u"L";
}

/* The position just after the quoted literal that starts at quote (a " or ' character). */
qsizetype skipQuoted(const QString &code, qsizetype quote)
{
    const QChar mark = code[quote];
    qsizetype i = quote + 1;
    while (i < code.size() && code[i] != mark && code[i] != u'\n')
        i += code[i] == u'\\' ? 2 : 1;
    return qMin(i + 1, code.size());
}

/* The position just after the raw string literal whose R is at r. */
qsizetype skipRawString(const QString &code, qsizetype r)
{
    const qsizetype open = code.indexOf(u'(', r + 2);
    if (open < 0)
        return code.size();
    const QString closing = u')' + code.sliced(r + 2, open - r - 2) + u'"';
    const qsizetype end = code.indexOf(closing, open);
    return end < 0 ? code.size() : end + closing.size();
}

/*
 * The code with its comments turned into blanks; literals and line breaks stay where they are,
 * so positions and line numbers still match the file, and "//" inside a string (a web address)
 * is not taken for a comment.
 */
QString withoutComments(const QString &code)
{
    QString out = code;
    qsizetype i = 0;
    while (i < code.size()) {
        const QChar c = code[i];
        const QChar next = i + 1 < code.size() ? code[i + 1] : QChar();
        if (c == u'/' && (next == u'/' || next == u'*')) {
            const qsizetype end = next == u'/' ? code.indexOf(u'\n', i) : code.indexOf(u"*/", i + 2);
            const qsizetype stop = end < 0 ? code.size() : (next == u'/' ? end : end + 2);
            for (; i < stop; ++i) {
                if (out[i] != u'\n')
                    out[i] = u' ';
            }
        } else if (c == u'R' && next == u'"' && isStringPrefix(identifierBefore(code, i))) {
            i = skipRawString(code, i);
        } else if (c == u'"') {
            i = skipQuoted(code, i);
        } else if (c == u'\'' && isStringPrefix(identifierBefore(code, i))) {
            // A quote after a digit is a digit separator (1'048'576), not a character literal.
            i = skipQuoted(code, i);
        } else {
            ++i;
        }
    }
    return out;
}

/* Reads C++ string literals and the wrappers around them, from a position in the code. */
class LiteralReader
{
public:
    LiteralReader(const QString &code, qsizetype pos)
        : m_code(code)
        , m_pos(pos)
    {
    }

    qsizetype position() const { return m_pos; }

    void skipBlanks()
    {
        while (m_pos < m_code.size() && m_code[m_pos].isSpace())
            ++m_pos;
    }

    bool accept(QStringView token)
    {
        skipBlanks();
        if (!QStringView(m_code).sliced(m_pos).startsWith(token))
            return false;
        const qsizetype after = m_pos + token.size();
        if (isIdentifierChar(token.back()) && after < m_code.size() && isIdentifierChar(m_code[after]))
            return false;
        m_pos = after;
        return true;
    }

    /* One or more adjacent string literals ("a" "b", u"a"_s), joined; nothing when there is none. */
    std::optional<QString> literals()
    {
        QString text;
        bool any = false;
        for (;;) {
            skipBlanks();
            qsizetype quote = m_pos;
            while (quote < m_code.size() && isIdentifierChar(m_code[quote]))
                ++quote;
            if (quote >= m_code.size() || m_code[quote] != u'"' || !isStringPrefix(m_code.sliced(m_pos, quote - m_pos)))
                break;
            m_pos = quote;
            text += quotedText();
            while (m_pos < m_code.size() && isIdentifierChar(m_code[m_pos])) // user-defined suffix: _s, _L1
                ++m_pos;
            any = true;
        }
        return any ? std::optional<QString>(text) : std::nullopt;
    }

private:
    /* The characters of the literal whose opening quote is at the current position. */
    QString quotedText()
    {
        QString text;
        ++m_pos;
        while (m_pos < m_code.size() && m_code[m_pos] != u'"') {
            QChar c = m_code[m_pos++];
            if (c == u'\\' && m_pos < m_code.size()) {
                c = m_code[m_pos++];
                if (c == u'n')
                    c = u'\n';
                else if (c == u'r')
                    c = u'\r';
                else if (c == u't')
                    c = u'\t';
            }
            text += c;
        }
        ++m_pos;
        return text;
    }

    const QString &m_code;
    qsizetype m_pos;
};

/* The wrappers that turn a literal into the QString that translate() takes. */
const QStringList kLiteralWrappers = {
    u"QStringLiteral"_qs,    u"QString::fromUtf8"_qs, u"QString::fromLatin1"_qs,
    u"QLatin1StringView"_qs, u"QLatin1String"_qs,     u"QStringView"_qs,
    u"QString"_qs,
};

/* A literal, wrapped (QStringLiteral("a")) or not (u"a"_s), read from the reader's position. */
std::optional<QString> literalExpression(LiteralReader &reader)
{
    for (const QString &wrapper : kLiteralWrappers) {
        if (!reader.accept(wrapper))
            continue;
        if (!reader.accept(u"("))
            return std::nullopt;
        std::optional<QString> text = reader.literals();
        return text && reader.accept(u")") ? text : std::nullopt;
    }
    return reader.literals();
}

/*
 * The text of a constant of the file that is set once from a literal ("const QString Phrase =
 * QStringLiteral(...);"); nothing when the name is set more than once or from anything else.
 */
std::optional<QString> constantText(const QString &code, const QString &identifier)
{
    const QRegularExpression definition(u"(?<![\\w.>:])"_qs + identifier + u"\\s*(=(?!=)|\\{|\\()"_qs);
    std::optional<QString> text;
    int definitions = 0;
    for (const QRegularExpressionMatch &match : definition.globalMatch(code)) {
        LiteralReader reader(code, match.capturedEnd());
        const QString opener = match.captured(1);
        const QStringView closer = opener == u"=" ? u";" : opener == u"{" ? u"}" : u")";
        text = literalExpression(reader);
        if (!text || !reader.accept(closer))
            return std::nullopt;
        ++definitions;
    }
    return definitions == 1 ? text : std::nullopt;
}

/* What the program's sources pass to translate(). */
struct SourceTexts {
    QMap<QString, QString> texts;      // English text -> where it is first passed ("src/x.cpp:12")
    QMap<QString, QString> plainTexts; // those passed to translate(), shown as they are, -> where
    QStringList untraceable;           // calls whose text cannot be known from the code, with their place
};

qsizetype lineOf(const QString &code, qsizetype pos)
{
    return code.first(pos).count(u'\n') + 1;
}

/* The text passed by the translate() call whose argument starts at the reader's position. */
std::optional<QString> argumentText(const QString &code, LiteralReader &reader)
{
    const qsizetype start = reader.position();
    if (std::optional<QString> text = literalExpression(reader))
        return reader.accept(u")") ? text : std::nullopt;
    static const QRegularExpression identifier(u"\\G\\s*([A-Za-z_]\\w*)\\s*\\)"_qs);
    const QRegularExpressionMatch match = identifier.match(code, start);
    return match.hasMatch() ? constantText(code, match.captured(1)) : std::nullopt;
}

/*
 * Collects the translate() and translateCaption() calls of one source file (its text and its
 * name for the reports); a caption's key is its text without the mnemonic.
 */
void scanCode(const QString &source, const QString &name, SourceTexts &found)
{
    const QString code = withoutComments(source);
    static const QRegularExpression call(u"(?<![\\w.>])(translate|translateCaption)\\s*\\("_qs);
    for (const QRegularExpressionMatch &match : call.globalMatch(code)) {
        LiteralReader reader(code, match.capturedEnd());
        if (reader.accept(u"const")) // the declaration and definition of translate itself
            continue;
        const QString where = name + u':' + QString::number(lineOf(code, match.capturedStart()));
        if (std::optional<QString> text = argumentText(code, reader)) {
            if (match.captured(1) == u"translateCaption")
                text = withoutMnemonic(*text);
            else if (!found.plainTexts.contains(*text))
                found.plainTexts.insert(*text, where);
            if (!found.texts.contains(*text))
                found.texts.insert(*text, where);
        } else {
            const QString argument = code.sliced(match.capturedEnd()).section(u'\n', 0, 0).simplified();
            found.untraceable.append(where + u": translate("_qs + argument);
        }
    }
}

SourceTexts scanSources()
{
    SourceTexts found;
    QDirIterator files(kSourceDir, {u"*.cpp"_qs, u"*.h"_qs, u"*.hpp"_qs, u"*.cc"_qs}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(path));
        scanCode(QString::fromUtf8(file.readAll()), QDir(repositoryPath(QString())).relativeFilePath(path), found);
    }
    return found;
}

/* One "{key}text" line of a language file. */
struct Entry {
    QString key;
    QString text;
    qsizetype line = 0;
};

/* A language file as the program reads it: UTF-8 without its byte-order mark, split into lines. */
struct LanguageFile {
    bool validUtf8 = false;
    QStringList lines;

    QList<Entry> entries() const
    {
        QList<Entry> result;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const qsizetype close = lines[i].indexOf(u'}');
            if (lines[i].startsWith(u'{') && close > 1)
                result.append({lines[i].sliced(1, close - 1), lines[i].sliced(close + 1), i + 1});
        }
        return result;
    }

    /* The first entry of each key, as the lookup finds it. */
    QMap<QString, QString> firstEntries() const
    {
        QMap<QString, QString> result;
        for (const Entry &entry : entries()) {
            if (!result.contains(entry.key))
                result.insert(entry.key, entry.text);
        }
        return result;
    }
};

LanguageFile readLanguageFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    QStringDecoder decoder(QStringConverter::Utf8); // drops a leading byte-order mark
    const QString text = decoder.decode(file.readAll());
    LanguageFile result;
    result.validUtf8 = !decoder.hasError();
    static const QRegularExpression lineEnd(u"\r\n|\n|\r"_qs);
    result.lines = text.split(lineEnd);
    if (!result.lines.isEmpty() && result.lines.last().isEmpty())
        result.lines.removeLast();
    return result;
}

/* One row for every language file in the folder, so that a newly added language is checked too. */
void addLanguageFileRows()
{
    QTest::addColumn<QString>("fileName");
    const QStringList files = QDir(kLanguagesDir).entryList({u"*.lang.txt"_qs}, QDir::Files, QDir::Name);
    if (files.isEmpty())
        qFatal("no language files in %s", qPrintable(kLanguagesDir));
    for (const QString &file : files)
        QTest::newRow(qPrintable(file)) << file;
}

/* The problems found, one a line, as the failure message. */
QByteArray report(const QStringList &problems)
{
    return (u"\n  "_qs + problems.join(u"\n  "_qs)).toUtf8();
}

/* Why a translation cannot stand for its English text in the callers, or an empty text. */
QString markerProblem(const QString &english, const QString &translated)
{
    const auto others = [](const QString &text) { return text.count(u'%') - text.count(u"%s"); };
    if (translated.count(u"%s") != english.count(u"%s"))
        return u"has %1 \"%s\" where the English has %2"_qs.arg(translated.count(u"%s")).arg(english.count(u"%s"));
    if (others(translated) != others(english))
        return u"has a \"%\" sign that is not part of \"%s\""_qs;
    if (english.endsWith(u"...") && !translated.endsWith(u"..."))
        return u"drops the \"...\" ending"_qs;
    static const QRegularExpression pattern(u"\\(\\*?\\.\\w+\\)"_qs);
    for (const QRegularExpressionMatch &match : pattern.globalMatch(english)) {
        if (!translated.contains(match.captured()))
            return u"drops the pattern "_qs + match.captured();
    }
    return {};
}

} // namespace

class TestShippedLanguages : public QObject
{
    Q_OBJECT

private:
    SourceTexts m_sources;

private slots:
    void initTestCase()
    {
        m_sources = scanSources();
        QVERIFY2(!m_sources.texts.isEmpty(), qPrintable(u"no translate call found under "_qs + kSourceDir));
    }

    void cleanup() { clearActiveLanguage(); }

    // The forms in which the program hands its texts to translate(), and what the scan cannot know.
    void scanFindsTheTextsOfEveryForm()
    {
        QFile file(QStringLiteral(TESSALY_TEST_DATA_DIR "/i18n/translatecalls.cpp.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        SourceTexts found;
        scanCode(QString::fromUtf8(file.readAll()), u"fixture.cpp"_qs, found);
        QCOMPARE(found.texts.keys(), QStringList({u"From UTF-8"_qs, u"Joined over lines"_qs, u"Plain"_qs,
                                                  u"Save & Close"_qs, u"Suffixed"_qs, u"Through a constant"_qs}));
        QCOMPARE(found.texts.value(u"Joined over lines"_qs), u"fixture.cpp:7"_qs);
        QCOMPARE(found.untraceable, QStringList({u"fixture.cpp:15: translate(Reassigned);"_qs,
                                                 u"fixture.cpp:16: translate(QStringLiteral(\"Built \") + name);"_qs,
                                                 u"fixture.cpp:17: translate(table[i]);"_qs}));
    }

    // A text that reaches translate() in a way the scan cannot follow escapes the completeness check.
    void everyTranslatedTextIsKnown()
    {
        QVERIFY2(m_sources.untraceable.isEmpty(),
                 report(QStringList{u"translate is called with a text the scan cannot read (use a literal, or a "
                                    u"constant of the file set once from a literal); the shipped languages "
                                    u"cannot be checked for:"_qs}
                        + m_sources.untraceable)
                     .constData());
    }

    void fileIsWellFormed_data() { addLanguageFileRows(); }

    void fileIsWellFormed()
    {
        QFETCH(QString, fileName);
        const LanguageFile file = readLanguageFile(kLanguagesDir + u'/' + fileName);
        QVERIFY2(file.validUtf8, "not valid UTF-8");

        QStringList problems;
        static const QRegularExpression entryForm(u"^\\{[^{}]+\\}"_qs);
        for (qsizetype i = 0; i < file.lines.size(); ++i) {
            const QString &line = file.lines[i];
            if (!line.isEmpty() && !entryForm.match(line).hasMatch())
                problems << u"line %1 is not of the form {English}translation: %2"_qs.arg(i + 1).arg(line);
        }
        QMap<QString, qsizetype> firstLine;
        for (const Entry &entry : file.entries()) {
            if (firstLine.contains(entry.key))
                problems << u"line %1 repeats the key of line %2 (only the first counts): %3"_qs.arg(entry.line)
                                .arg(firstLine[entry.key])
                                .arg(entry.key);
            else
                firstLine.insert(entry.key, entry.line);
            if (entry.text != entry.text.trimmed())
                problems << u"line %1 has blanks around its translation: {%2}"_qs.arg(entry.line).arg(entry.key);
        }
        const QList<Entry> entries = file.entries();
        if (entries.isEmpty() || entries.first().key != kInfoKey || entries.first().text.isEmpty())
            problems << u"the first entry is not a non-empty {%1}"_qs.arg(kInfoKey);
        QVERIFY2(problems.isEmpty(), report(problems).constData());
    }

    void fileTranslatesEverySourceText_data() { addLanguageFileRows(); }

    void fileTranslatesEverySourceText()
    {
        QFETCH(QString, fileName);
        const QMap<QString, QString> entries = readLanguageFile(kLanguagesDir + u'/' + fileName).firstEntries();
        QStringList problems;
        for (auto it = m_sources.texts.cbegin(); it != m_sources.texts.cend(); ++it) {
            if (!entries.contains(it.key()))
                problems << u"no entry for \"%1\" (%2)"_qs.arg(it.key(), it.value());
            else if (entries[it.key()].isEmpty())
                problems << u"empty entry for \"%1\" (%2)"_qs.arg(it.key(), it.value());
        }
        QVERIFY2(problems.isEmpty(), report(problems).constData());
    }

    void translationsKeepMarkers_data() { addLanguageFileRows(); }

    void translationsKeepMarkers()
    {
        QFETCH(QString, fileName);
        QStringList problems;
        for (const Entry &entry : readLanguageFile(kLanguagesDir + u'/' + fileName).entries()) {
            if (entry.key == kInfoKey || entry.text.isEmpty())
                continue;
            const QString problem = markerProblem(entry.key, entry.text);
            if (!problem.isEmpty())
                problems << u"line %1, {%2}: the translation %3"_qs.arg(entry.line).arg(entry.key, problem);
        }
        QVERIFY2(problems.isEmpty(), report(problems).constData());
    }

    // A mnemonic mark belongs to a caption: where translate() gives the text as it is (a title,
    // a message, a file's text), the "&" would show.
    void mnemonicsOnlyInCaptions_data() { addLanguageFileRows(); }

    void mnemonicsOnlyInCaptions()
    {
        QFETCH(QString, fileName);
        QStringList problems;
        for (const Entry &entry : readLanguageFile(kLanguagesDir + u'/' + fileName).entries()) {
            if (entry.text.contains(u'&') && m_sources.plainTexts.contains(entry.key))
                problems << u"line %1, {%2}: the translation has a \"&\", but %3 shows the text as it is (a caption "
                            u"goes through translateCaption, plain text through withoutMnemonic)"_qs.arg(entry.line)
                                .arg(entry.key, m_sources.plainTexts[entry.key]);
        }
        QVERIFY2(problems.isEmpty(), report(problems).constData());
    }

    void languageCodesNameShippedFiles()
    {
        const LanguageFile codes = readLanguageFile(kLanguagesDir + u"/LanguageCodes.csv"_qs);
        QVERIFY2(codes.validUtf8, "LanguageCodes.csv is not valid UTF-8");
        const QStringList present = QDir(kLanguagesDir).entryList({u"*.lang.txt"_qs}, QDir::Files);
        static const QRegularExpression form(u"^([1-9][0-9]{0,4}),([^,\\s]+\\.lang\\.txt)$"_qs);
        QStringList problems;
        QMap<int, qsizetype> firstLine;
        for (qsizetype i = 0; i < codes.lines.size(); ++i) {
            const QRegularExpressionMatch match = form.match(codes.lines[i]);
            const int id = match.captured(1).toInt();
            if (!match.hasMatch() || id > 0xFFFF)
                problems << u"line %1 is not \"LANGID,Name.lang.txt\": %2"_qs.arg(i + 1).arg(codes.lines[i]);
            else if (!present.contains(match.captured(2)))
                problems << u"line %1 names a missing file: %2"_qs.arg(i + 1).arg(match.captured(2));
            else if (firstLine.contains(id))
                problems << u"line %1 repeats the identifier of line %2 (only the first counts): %3"_qs.arg(i + 1)
                                .arg(firstLine[id])
                                .arg(id);
            else
                firstLine.insert(id, i + 1);
        }
        QVERIFY2(problems.isEmpty(), report(problems).constData());
    }

    // Through the program's own locale table and loader, as at a first start without a setting.
    void localesFindTheirLanguage_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("expectedName"); // empty: no file, the program stays English
        for (const ShippedLanguage &shipped : kShipped) {
            const QString name = shipped.fileName.section(u'.', 0, 0);
            for (const QLocale &locale :
                 QLocale::matchingLocales(shipped.language, QLocale::AnyScript, shipped.onlyTerritory))
                QTest::newRow(qPrintable(locale.name())) << locale << name;
        }
        QTest::newRow("pt_PT has no file") << QLocale(u"pt_PT"_qs) << QString();
        QTest::newRow("en_US has no file") << QLocale(u"en_US"_qs) << QString();
    }

    void localesFindTheirLanguage()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, expectedName);
        QString error;
        const quint16 langId = langIdForLocale(locale);
        QVERIFY2(loadLanguageFrom(QString(), QFileInfo(kLanguagesDir).path(), langId, &error), qPrintable(error));
        QVERIFY2(languageName() == expectedName,
                 qPrintable(u"LANGID %1 gives \"%2\""_qs.arg(langId).arg(languageName())));
        QCOMPARE(languageLines().isEmpty(), expectedName.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestShippedLanguages)
#include "tst_shippedlanguages.moc"
