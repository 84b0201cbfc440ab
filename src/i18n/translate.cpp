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

LanguageState &State()
{
    static LanguageState state;
    return state;
}

/* The key of an entry line "{key}text", or a null string for any other line. */
QStringView EntryKey(QStringView line)
{
    if (!line.startsWith(u'{'))
        return {};
    const qsizetype close = line.indexOf(u'}');
    return close < 0 ? QStringView() : line.sliced(1, close - 1);
}

} // namespace

void SetActiveLanguage(const QString &filePath, const QString &name, const QStringList &lines)
{
    LanguageState &state = State();
    state.filePath = filePath;
    state.name = name;
    state.lines = lines;
    state.firstTextByKey.clear();
    for (const QString &line : lines) {
        const QStringView key = EntryKey(line);
        if (key.isNull())
            continue;
        const QString keyText = key.toString();
        if (!state.firstTextByKey.contains(keyText))
            state.firstTextByKey.insert(keyText, line.sliced(key.size() + 2));
    }
}

void ClearActiveLanguage()
{
    SetActiveLanguage(QString(), QString(), QStringList());
}

QString LanguageFilePath()
{
    return State().filePath;
}

QString LanguageName()
{
    return State().name;
}

QStringList LanguageLines()
{
    return State().lines;
}

QString Translate(const QString &source)
{
    const LanguageState &state = State();
    if (state.filePath.isEmpty())
        return source;
    const auto found = state.firstTextByKey.constFind(source);
    if (found == state.firstTextByKey.constEnd() || found->isEmpty())
        return source;
    return *found;
}

QString LookupInLines(const QString &key, const QStringList &lines)
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
