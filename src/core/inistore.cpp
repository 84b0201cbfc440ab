#include "core/inistore.h"

#include "text/textformat.h"
#include "text/textlines.h"
#include "text/textwriter.h"

#include <QFileInfo>

#include <new>

namespace {

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

/*
 * The name with each character's letter case folded as sameName folds it (one character for
 * one, so "\u00DF" stays apart from "ss"): two names are the same exactly when their keys are.
 */
QString nameKey(const QString &name)
{
    QString key;
    key.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t c = name[i].unicode();
        if (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        }
        const char32_t folded = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(folded)) {
            key.append(QChar(QChar::highSurrogate(folded)));
            key.append(QChar(QChar::lowSurrogate(folded)));
        } else {
            key.append(QChar(char16_t(folded)));
        }
    }
    return key;
}

} // namespace

bool IniStore::load(const QString &path, QString *error)
{
    m_sections.clear();
    m_sectionIndex.clear();
    const QFileInfo file(path);
    if (!file.exists())
        return true;
    // A FIFO would keep the start waiting for a writer, a device could give bytes for ever: only
    // a regular file is opened.
    if (!file.isFile()) {
        if (error)
            *error = formatText(QStringLiteral("Cannot open file \"%s\". %s"),
                                {path, QStringLiteral("Not a regular file")});
        return false;
    }
    try {
        return read(path, error);
    } catch (const std::bad_alloc &) {
        // A file far larger than the memory is as unreadable as a damaged one.
        m_sections.clear();
        m_sectionIndex.clear();
        if (error)
            *error = notEnoughMemoryToReadMessage(path);
        return false;
    }
}

bool IniStore::read(const QString &path, QString *error)
{
    TextLines lines;
    if (!readTextLines(path, TextEncoding::Utf8, lines, error))
        return false;
    Section *current = nullptr;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = trimControlAndBlank(lines.at(i));
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QString name = line.sliced(1, line.size() - 2); // as written, blanks included
            current = findSection(name);
            if (!current)
                current = &addSection(name);
            continue;
        }
        if (!current)
            continue; // keys before the first section have no place
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            current->entries.append(Entry{line, QString()});
        else
            current->entries.append(
                Entry{trimControlAndBlank(line.first(equals)), trimControlAndBlank(line.sliced(equals + 1))});
    }
    return true;
}

bool IniStore::save(const QString &path, QString *error) const
{
    QStringList lines;
    for (const Section &section : m_sections) {
        lines.append(u'[' + section.name + u']');
        for (const Entry &entry : section.entries)
            lines.append(entry.key + u'=' + entry.value);
        lines.append(QString());
    }
    QString reason;
    if (writeTextLines(lines, path, TextEncoding::Utf8, &reason))
        return true;
    if (error)
        *error = reason;
    return false;
}

QString IniStore::value(const QString &section, const QString &key, const QString &defaultValue) const
{
    if (const Section *found = findSection(section)) {
        for (const Entry &entry : found->entries) {
            if (sameName(entry.key, key))
                return entry.value;
        }
    }
    return defaultValue;
}

void IniStore::setValue(const QString &section, const QString &key, const QString &value)
{
    Section *found = findSection(section);
    if (!found)
        found = &addSection(section);
    for (Entry &entry : found->entries) {
        if (sameName(entry.key, key)) {
            entry.value = value;
            return;
        }
    }
    found->entries.append(Entry{key, value});
}

IniStore::Section *IniStore::findSection(const QString &name)
{
    const auto found = m_sectionIndex.constFind(nameKey(name));
    return found == m_sectionIndex.constEnd() ? nullptr : &m_sections[*found];
}

const IniStore::Section *IniStore::findSection(const QString &name) const
{
    return const_cast<IniStore *>(this)->findSection(name);
}

IniStore::Section &IniStore::addSection(const QString &name)
{
    m_sectionIndex.insert(nameKey(name), m_sections.size());
    m_sections.append(Section{name, {}});
    return m_sections.last();
}
