#pragma once

#include <QList>
#include <QString>
#include <QStringList>

/*
 * Reads CSV text as RFC 4180 has it: fields separated by delimiter, a field in quote marks may
 * hold the delimiter, line breaks and quote marks written twice; a record ends at a line break
 * outside quote marks (CR LF or LF). A leading byte-order mark and a last empty line are dropped.
 */
inline QList<QStringList> readCsvTable(QString text, QChar delimiter = u',')
{
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QList<QStringList> table;
    QStringList record;
    QString field;
    bool quoted = false;
    bool fieldStarted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"' && field.isEmpty()) {
            quoted = true;
            fieldStarted = true;
        } else if (c == delimiter) {
            record.append(field);
            field.clear();
            fieldStarted = true;
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            record.append(field);
            table.append(record);
            record.clear();
            field.clear();
            fieldStarted = false;
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (fieldStarted || !field.isEmpty() || !record.isEmpty()) {
        record.append(field);
        table.append(record);
    }
    return table;
}
