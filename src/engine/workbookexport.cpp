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
QStringList SplitRow(const QString &row, QChar delimiter)
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

TableShape MeasureTable(const QStringList &rows, QChar delimiter)
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

QString Number(qsizetype value)
{
    return QLocale(QLocale::English).toString(value);
}

/* Why the table does not fit the workbook kind, or an empty text when it fits. */
QString LimitViolation(const TableShape &shape, bool xlsx)
{
    const qsizetype maxRows = xlsx ? kXlsxMaxRows : kXlsMaxRows;
    const qsizetype maxColumns = xlsx ? kXlsxMaxColumns : kXlsMaxColumns;
    const QString kind = xlsx ? Translate(QStringLiteral("An Excel workbook (.xlsx)"))
                              : Translate(QStringLiteral("An Excel 97-2003 workbook (.xls)"));
    const QString instead = xlsx ? Translate(QStringLiteral("Save it as a CSV file instead."))
                                 : Translate(QStringLiteral("Save it as an Excel 2007 workbook (.xlsx) instead."));
    if (shape.rows > maxRows)
        return FormatText(Translate(QStringLiteral("The table has %s rows. %s holds at most %s rows.")),
                          {Number(shape.rows), kind, Number(maxRows)})
            + u' ' + instead;
    if (shape.widestRow > maxColumns)
        return FormatText(Translate(QStringLiteral("The table has %s columns. %s holds at most %s columns.")),
                          {Number(shape.widestRow), kind, Number(maxColumns)})
            + u' ' + instead;
    if (shape.longestCell > kXlsxMaxCellChars)
        return FormatText(Translate(QStringLiteral("A value has %s characters. A workbook cell holds at most %s "
                                                   "characters.")),
                          {Number(shape.longestCell), Number(kXlsxMaxCellChars)})
            + u' ' + Translate(QStringLiteral("Save it as a CSV file instead."));
    return {};
}

/* The workbook stage shows 81 to 100 as its rows are written. */
class WorkbookProgress
{
public:
    WorkbookProgress(ConversionHost &host, qsizetype rows)
        : m_stage(host, 80, 20)
        , m_rows(rows)
    {
    }

    void row(qsizetype n) { m_stage.step(n, m_rows); }

private:
    StageProgress m_stage;
    qsizetype m_rows;
};

/* What a new file gets: read and write for everyone, less the process's umask. */
QFile::Permissions DefaultFilePermissions()
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

QString CannotCreate(const QString &path, const QString &reason)
{
    return FormatText(QStringLiteral("Cannot create file \"%s\". %s"), {path, reason});
}

bool WriteXls(const QStringList &rows, QChar delimiter, const QString &path, int widthColumns,
              WorkbookProgress &progress, QString &error)
{
    std::vector<QStringList> cells;
    cells.reserve(size_t(rows.size()));
    for (qsizetype n = 0; n < rows.size(); ++n) {
        progress.row(n + 1);
        cells.push_back(SplitRow(rows.at(n), delimiter));
    }
    QSaveFile file(path);
    // Unbuffered, so that a failed write reports the system's reason (a full disk, say).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = CannotCreate(path, file.errorString());
        return false;
    }
    QString writeError;
    if (!WriteXlsWorkbook(cells, widthColumns, file, &writeError)) {
        file.cancelWriting();
        error = CannotCreate(path, writeError);
        return false;
    }
    if (!file.commit()) {
        error = CannotCreate(path, file.errorString());
        return false;
    }
    return true;
}

/* libxlsxwriter writes to a name, so the workbook goes to a new file beside the target first. */
bool WriteXlsx(const QStringList &rows, QChar delimiter, const QString &path, int widthColumns,
               WorkbookProgress &progress, QString &error)
{
    const QFileInfo target(path);
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.tessaly-XXXXXX.xlsx"));
    if (!temporary.open()) {
        error = CannotCreate(path, temporary.errorString());
        return false;
    }
    temporary.close();

    XlsxFile workbook(temporary.fileName(), widthColumns);
    const bool asciiDelimiter = delimiter.unicode() < 0x80;
    for (qsizetype n = 0; n < rows.size(); ++n) {
        progress.row(n + 1);
        const bool added = asciiDelimiter
            ? workbook.addDelimitedRow(rows.at(n), char(delimiter.unicode()), char(kQuoteMark.unicode()))
            : workbook.addRow(SplitRow(rows.at(n), delimiter));
        if (!added) {
            error = CannotCreate(path, workbook.errorString());
            return false;
        }
    }
    if (!workbook.close()) {
        error = CannotCreate(path, workbook.errorString());
        return false;
    }
    // A temporary file is private to its owner; the workbook gets the permissions that a newly
    // saved file (or the file it replaces) would have.
    if (!temporary.setPermissions(target.exists() ? target.permissions() : DefaultFilePermissions())) {
        error = CannotCreate(path, temporary.errorString());
        return false;
    }
    // rename() replaces an existing target in one step.
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        error = CannotCreate(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    temporary.setAutoRemove(false);
    return true;
}

} // namespace

bool ExportToWorkbook(const QStringList &rows, QChar delimiter, const QString &fileName, ConversionHost &host)
{
    const bool xlsx = fileName.toLower().endsWith(QLatin1String(".xlsx"));
    const TableShape shape = MeasureTable(rows, delimiter);
    QString error = LimitViolation(shape, xlsx);
    if (error.isEmpty() && QFileInfo(fileName).isDir())
        error = CannotCreate(fileName, QStringLiteral("Is a directory"));
    if (error.isEmpty()) {
        WorkbookProgress progress(host, shape.rows);
        const int widthColumns = int(shape.lastRowFields);
        const bool written = xlsx ? WriteXlsx(rows, delimiter, fileName, widthColumns, progress, error)
                                  : WriteXls(rows, delimiter, fileName, widthColumns, progress, error);
        if (written)
            return true;
    }
    host.ShowMessage(MessageIcon::Warning, Translate(QStringLiteral("WARNING")), error);
    return false;
}
