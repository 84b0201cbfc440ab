#pragma once

#include <QHash>
#include <QList>
#include <QString>

/**
 * An INI store held in memory and read or written as a whole file.
 *
 * Reading skips a UTF-8 byte-order mark, trims each line, skips empty lines and lines that
 * begin with ";", opens a section at "[name]", splits other lines at their first "=" (a line
 * without one is a key without value) and drops lines before the first section. Section and
 * key names match without regard to letter case. Writing puts the byte-order mark first, then
 * each section in the order of first appearance with its keys, CR LF line ends and one empty
 * line after each section.
 */
class IniStore
{
public:
    /** Reads the file at path; a missing file gives an empty store. False with error when the
     *  file is not a regular file (a FIFO, device or folder is never opened), cannot be read, is
     *  not valid UTF-8 or is too large for the memory (the store is
     *  then empty). */
    bool load(const QString &path, QString *error);
    /** Writes the whole store to path, replacing the file only once it is complete. */
    bool save(const QString &path, QString *error) const;

    QString value(const QString &section, const QString &key, const QString &defaultValue = {}) const;
    void setValue(const QString &section, const QString &key, const QString &value);

private:
    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
    };

    /** Reads the sections of the file at path into the empty store; may throw std::bad_alloc. */
    bool read(const QString &path, QString *error);
    Section *findSection(const QString &name);
    const Section *findSection(const QString &name) const;
    /** Appends a section that findSection did not find, and returns it. */
    Section &addSection(const QString &name);

    QList<Section> m_sections;
    // The place in m_sections of each section, by its name with letter case folded.
    QHash<QString, qsizetype> m_sectionIndex;
};
