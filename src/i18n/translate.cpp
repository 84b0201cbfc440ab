#include "i18n/translate.h"

#include <QHash>

namespace {

struct LanguageState {
    QString filePath;
    QString name;
    QStringList lines;
    // First translated text of each key; a later line with the same key is never read.
    QHash<QString, QString> firstTextByKey;
};

LanguageState &languageState()
{
    static LanguageState state;
    return state;
}

/* The key of an entry line "{key}text", or a null string for any other line. */
QStringView entryKey(QStringView line)
{
    if (!line.startsWith(u'{'))
        return {};
    const qsizetype close = line.indexOf(u'}');
    return close < 0 ? QStringView() : line.sliced(1, close - 1);
}

/* The active language's non-empty text for source, or null when it has none (or none is active). */
const QString *activeTranslation(const QString &source)
{
    const LanguageState &state = languageState();
    if (state.filePath.isEmpty())
        return nullptr;
    const auto found = state.firstTextByKey.constFind(source);
    if (found == state.firstTextByKey.constEnd() || found->isEmpty())
        return nullptr;
    return &*found;
}

} // namespace

void setActiveLanguage(const QString &filePath, const QString &name, const QStringList &lines)
{
    LanguageState &state = languageState();
    state.filePath = filePath;
    state.name = name;
    state.lines = lines;
    state.firstTextByKey.clear();
    for (const QString &line : lines) {
        const QStringView key = entryKey(line);
        if (key.isNull())
            continue;
        const QString keyText = key.toString();
        if (!state.firstTextByKey.contains(keyText))
            state.firstTextByKey.insert(keyText, line.sliced(key.size() + 2));
    }
}

void clearActiveLanguage()
{
    setActiveLanguage(QString(), QString(), QStringList());
}

QString languageFilePath()
{
    return languageState().filePath;
}

QString languageName()
{
    return languageState().name;
}

QStringList languageLines()
{
    return languageState().lines;
}

QString translate(const QString &source)
{
    const QString *translated = activeTranslation(source);
    return translated ? *translated : source;
}

QString translateCaption(const QString &englishCaption)
{
    const QString *translated = activeTranslation(withoutMnemonic(englishCaption));
    return translated ? *translated : englishCaption;
}

QString withoutMnemonic(const QString &caption)
{
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        // "&&" stands for one "&"; a single "&" only marks the letter after it.
        if (caption[i] == u'&' && ++i == caption.size())
            break;
        plain += caption[i];
    }
    return plain;
}

QString lookupInLines(const QString &key, const QStringList &lines)
{
    if (lines.isEmpty())
        return key;
    const QString entry = u'{' + key + u'}';
    for (const QString &line : lines) {
        if (line.startsWith(entry))
            return line.sliced(line.indexOf(u'}') + 1);
    }
    return key;
}
