#include "engine/workbookexport.h"

#include "engine/xlsfile.h"
#include "engine/xlsxfile.h"
#include "i18n/translate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <cstdio>

#include <sys/stat.h>

namespace {

constexpr QChar kQuoteMark = u'"';

/* The field texts of a finished row: split at the delimiter, enclosing quotes removed. */
QStringList splitRow(const QString &row, QChar delimiter)
{
    QStringList fields = row.split(delimiter);
    for (QString &field : fields) {
        if (field.size() >= 2 && field.startsWith(kQuoteMark) && field.endsWith(kQuoteMark))
            field = field.sliced(1, field.size() - 2);
    }
    return fields;
}

struct TableShape {
    qsizetype rows = 0;
    qsizetype widestRow = 0;     // the most fields of any row
    qsizetype lastRowFields = 0; // the used columns: as many as the last row has fields
    qsizetype longestCell = 0;
};

TableShape measureTable(const QStringList &rows, QChar delimiter)
{
    TableShape shape;
    shape.rows = rows.size();
    for (const QString &row : rows) {
        qsizetype fields = 1, start = 0;
        for (qsizetype at = row.indexOf(delimiter); at >= 0; at = row.indexOf(delimiter, start)) {
            shape.longestCell = std::max(shape.longestCell, at - start - 2);
            start = at + 1;
            ++fields;
        }
        shape.longestCell = std::max(shape.longestCell, row.size() - start - 2);
        shape.widestRow = std::max(shape.widestRow, fields);
        shape.lastRowFields = fields;
    }
    return shape;
}

QString numberText(qsizetype value)
{
    return QLocale(QLocale::English).toString(value);
}

/* Why the table does not fit the workbook kind, or an empty text when it fits. */
QString limitViolation(const TableShape &shape, bool xlsx)
{
    const qsizetype maxRows = xlsx ? kXlsxMaxRows : kXlsMaxRows;
    const qsizetype maxColumns = xlsx ? kXlsxMaxColumns : kXlsMaxColumns;
    const QString kind = xlsx ? translate(QStringLiteral("An Excel workbook (.xlsx)"))
                              : translate(QStringLiteral("An Excel 97-2003 workbook (.xls)"));
    const QString instead = xlsx ? translate(QStringLiteral("Save it as a CSV file instead."))
                                 : translate(QStringLiteral("Save it as an Excel 2007 workbook (.xlsx) instead."));
    if (shape.rows > maxRows)
        return formatText(translate(QStringLiteral("The table has %s rows. %s holds at most %s rows.")),
                          {numberText(shape.rows), kind, numberText(maxRows)})
            + u' ' + instead;
    if (shape.widestRow > maxColumns)
        return formatText(translate(QStringLiteral("The table has %s columns. %s holds at most %s columns.")),
                          {numberText(shape.widestRow), kind, numberText(maxColumns)})
            + u' ' + instead;
    if (shape.longestCell > kXlsxMaxCellChars)
        return formatText(translate(QStringLiteral("A value has %s characters. A workbook cell holds at most %s "
                                                   "characters.")),
                          {numberText(shape.longestCell), numberText(kXlsxMaxCellChars)})
            + u' ' + translate(QStringLiteral("Save it as a CSV file instead."));
    return {};
}

/*
 * The workbook stage shows 81 to 100: up to 90 as the rows are handed to the writer, then up
 * to 99 as the writer puts them into the file (the writers do most of their work after the
 * last row came), and 100 once the file is complete.
 */
class WorkbookProgress
{
public:
    WorkbookProgress(ConversionHost &host, qsizetype rows)
        : m_host(host)
        , m_rows(host, 80, 10)
        , m_writing(host, 90, 9)
        , m_count(rows)
    {
    }

    void row(qsizetype n) { m_rows.step(n, m_count); }
    void writing(qint64 done, qint64 total) { m_writing.step(std::min(done, total), total); }
    void complete() { m_host.setProgress(100); }

private:
    ConversionHost &m_host;
    StageProgress m_rows;
    StageProgress m_writing;
    qsizetype m_count;
};

/* What a new file gets: read and write for everyone, less the process's umask. */
QFile::Permissions defaultFilePermissions()
{
    const mode_t mask = umask(0);
    umask(mask);
    QFile::Permissions permissions;
    const std::pair<mode_t, QFile::Permission> bits[] = {
        {S_IRUSR, QFile::ReadOwner}, {S_IWUSR, QFile::WriteOwner}, {S_IRGRP, QFile::ReadGroup},
        {S_IWGRP, QFile::WriteGroup}, {S_IROTH, QFile::ReadOther}, {S_IWOTH, QFile::WriteOther}};
    for (const auto &[bit, permission] : bits) {
        if (!(mask & bit))
            permissions |= permission;
    }
    if (permissions & QFile::ReadOwner)
        permissions |= QFile::ReadUser;
    if (permissions & QFile::WriteOwner)
        permissions |= QFile::WriteUser;
    return permissions;
}

QString cannotCreate(const QString &path, const QString &reason)
{
    return formatText(QStringLiteral("Cannot create file \"%s\". %s"), {path, reason});
}

bool writeXls(const QStringList &rows, QChar delimiter, const QString &path, int widthColumns,
              WorkbookProgress &progress, QString &error)
{
    std::vector<QStringList> cells;
    cells.reserve(size_t(rows.size()));
    for (qsizetype n = 0; n < rows.size(); ++n) {
        progress.row(n + 1);
        cells.push_back(splitRow(rows.at(n), delimiter));
    }
    QSaveFile file(path);
    // Unbuffered, so that a failed write reports the system's reason (a full disk, say).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = cannotCreate(path, file.errorString());
        return false;
    }
    QString writeError;
    const auto writing = [&progress](qint64 done, qint64 total) { progress.writing(done, total); };
    if (!writeXlsWorkbook(cells, widthColumns, file, &writeError, writing)) {
        file.cancelWriting();
        error = cannotCreate(path, writeError);
        return false;
    }
    if (!file.commit()) {
        error = cannotCreate(path, file.errorString());
        return false;
    }
    return true;
}

/* libxlsxwriter writes to a name, so the workbook goes to a new file beside the target first. */
bool writeXlsx(const QStringList &rows, QChar delimiter, const QString &path, int widthColumns,
               WorkbookProgress &progress, QString &error)
{
    const QFileInfo target(path);
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.tessaly-XXXXXX.xlsx"));
    if (!temporary.open()) {
        error = cannotCreate(path, temporary.errorString());
        return false;
    }
    temporary.close();

    XlsxFile workbook(temporary.fileName(), widthColumns);
    const bool asciiDelimiter = delimiter.unicode() < 0x80;
    for (qsizetype n = 0; n < rows.size(); ++n) {
        progress.row(n + 1);
        const bool added = asciiDelimiter
            ? workbook.addDelimitedRow(rows.at(n), char(delimiter.unicode()), char(kQuoteMark.unicode()))
            : workbook.addRow(splitRow(rows.at(n), delimiter));
        if (!added) {
            error = cannotCreate(path, workbook.errorString());
            return false;
        }
    }
    if (!workbook.close([&progress](qint64 written, qint64 expected) { progress.writing(written, expected); })) {
        error = cannotCreate(path, workbook.errorString());
        return false;
    }
    // A temporary file is private to its owner; the workbook gets the permissions that a newly
    // saved file (or the file it replaces) would have.
    if (!temporary.setPermissions(target.exists() ? target.permissions() : defaultFilePermissions())) {
        error = cannotCreate(path, temporary.errorString());
        return false;
    }
    // rename() replaces an existing target in one step.
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        error = cannotCreate(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    temporary.setAutoRemove(false);
    return true;
}

} // namespace

bool exportToWorkbook(const QStringList &rows, QChar delimiter, const QString &fileName, ConversionHost &host)
{
    const bool xlsx = fileName.toLower().endsWith(QLatin1String(".xlsx"));
    const TableShape shape = measureTable(rows, delimiter);
    QString error = limitViolation(shape, xlsx);
    if (error.isEmpty() && QFileInfo(fileName).isDir())
        error = cannotCreate(fileName, QStringLiteral("Is a directory"));
    if (error.isEmpty()) {
        WorkbookProgress progress(host, shape.rows);
        const int widthColumns = int(shape.lastRowFields);
        const bool written = xlsx ? writeXlsx(rows, delimiter, fileName, widthColumns, progress, error)
                                  : writeXls(rows, delimiter, fileName, widthColumns, progress, error);
        if (written) {
            progress.complete();
            return true;
        }
    }
    host.showMessage(MessageIcon::Warning, translate(QStringLiteral("WARNING")), error);
    return false;
}
