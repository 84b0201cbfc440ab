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
    const LanguageState &state = languageState();
    if (state.filePath.isEmpty())
        return source;
    const auto found = state.firstTextByKey.constFind(source);
    if (found == state.firstTextByKey.constEnd() || found->isEmpty())
        return source;
    return *found;
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
