#pragma once

// Reading a workbook back as a spreadsheet program does, through tests/engine/workbook_dump.py
// (openpyxl for .xlsx, xlrd for .xls, or LibreOffice), for tests that compare its cells.

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

/* What workbook_dump.py prints for workbook (an empty object when it fails; the reason is logged). */
inline QJsonObject dumpWorkbook(const QString &workbook, const QStringList &options = {})
{
    // Debian's interpreter sees python3-openpyxl and python3-xlrd.
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"),
                  QStringList{QStringLiteral(TESSALY_TEST_SOURCE_DIR "/engine/workbook_dump.py")} + options
                      + QStringList{workbook});
    if (!process.waitForFinished(300000) || process.exitCode() != 0)
        qWarning() << process.readAllStandardError();
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

/* Rows of texts, as the dump gives its cells and formats. */
inline QList<QStringList> jsonTable(const QJsonArray &rows)
{
    QList<QStringList> table;
    for (const QJsonValue &row : rows) {
        QStringList cells;
        for (const QJsonValue &cell : row.toArray())
            cells.append(cell.toString());
        table.append(cells);
    }
    return table;
}
