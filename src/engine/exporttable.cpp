#include "engine/exporttable.h"

#include "engine/csvrows.h"

#include "text/helperthread.h"
#include "text/textformat.h"
#include "text/workstop.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr int kFlavorCount = 4;

/* The column of the header-name table that an export uses. */
int flavorIndex(ExportType fileType, CsvFlavor flavor)
{
    if (fileType != ExportType::Csv)
        return 0;
    switch (flavor) {
    case CsvFlavor::Plain:
        return 0;
    case CsvFlavor::Outlook:
        return 1;
    case CsvFlavor::Google:
        return 2;
    case CsvFlavor::Yahoo:
        return 3;
    }
    return 0;
}

/*
 * Header names per column: default, outlook, google, yahoo. nullptr: no name in that flavour.
 * The importers store a structured-name column as the given name and read "Department",
 * "Subject" and "Job Title" as the contact's own, so those flavours leave out the structured
 * name and the revision.
 */
const char *const kHeaderNames[kContactColumnCount][kFlavorCount] = {
    {"Name", "First Name", "Name", "First Name"},
    {"Given Name", nullptr, nullptr, nullptr},
    {"Phone", "Home Phone", "Phone 1 - Value", "Phone"},
    {"Phone2", "Business Phone", "Phone 2 - Value", "Home"},
    {"Phone3", "Business Phone 2", "Phone 3 - Value", "Work"},
    {"Organization", "Company", "Organization 1 - Name", "Company"},
    {"Address", "Home Address", "Address 1 - Formatted", "Home Address"},
    {"Revision", nullptr, nullptr, nullptr},
    {"Email", "E-mail Address", "E-mail 1 - Value", "Email"},
    {"Email2", "E-mail 2 Address", "E-mail 2 - Value", "Home Email"},
    {"Email3", "E-mail 3 Address", nullptr, "Work Email"},
    {"Email4", nullptr, nullptr, nullptr},
    {"Email5", nullptr, nullptr, nullptr},
    {"URL", "Web Page", "Website 1 - Value", "website"},
    {"Note", "Notes", "Notes", "Notes"},
};

/*
 * Whether a card without a formatted name has its structured name in the name column: in the
 * importers' flavours, which have no structured-name column, so that every contact has a name.
 */
bool namesFromStructuredName(ExportType fileType, CsvFlavor flavor)
{
    return fileType == ExportType::Csv && flavor != CsvFlavor::Plain;
}

void chopTrailingDelimiter(QString &row, QChar delimiter)
{
    if (row.endsWith(delimiter))
        row.chop(1);
}

/*
 * Writes the row into row's buffer, which keeps its memory from row to row: each present
 * column's field in quote marks, a quote mark inside a field written twice. Returns how many
 * fields got an apostrophe against formulas.
 */
int buildRow(QByteArray &row, ContactFieldsUtf8 fields, const ColumnPresence &presence, const RowBytes &shape,
             bool nameFromStructuredName)
{
    constexpr size_t kName = size_t(ContactColumn::FormattedName);
    if (nameFromStructuredName && fields[kName].isEmpty())
        fields[kName] = fields[size_t(ContactColumn::StructuredName)];
    std::array<QByteArrayView, kContactColumnCount> present;
    qsizetype count = 0;
    for (int column = 0; column < kContactColumnCount; ++column) {
        if (presence[size_t(column)])
            present[size_t(count++)] = fields[size_t(column)];
    }
    return writeRow(
        row, count, [&present](qsizetype i) { return present[size_t(i)]; }, shape);
}

bool isBlankText(QByteArrayView text)
{
    return trimControlAndBlank(text).isEmpty();
}

/* A card's text block: its values as they are, each on a line of its own, then an empty line. */
void appendTxtBlock(TextLines &txtLines, const ContactFieldsUtf8 &fields, const ColumnPresence &presence)
{
    for (int column = 0; column < kContactColumnCount; ++column) {
        if (presence[size_t(column)] && !isBlankText(fields[size_t(column)]))
            txtLines.appendUtf8(fields[size_t(column)]);
    }
    txtLines.appendUtf8(QByteArrayView());
}

/* The distinct rows of the cards from from on, on a second thread. */
void buildLaterRows(LaterRows &later, const CardList &cards, qint64 from, const ColumnPresence &presence,
                    const RowBytes &shape, bool nameFromStructuredName, const std::stop_token &stop)
{
    DistinctRows distinct(later.rows, cards.size() - from);
    later.hashes.reserve(size_t(cards.size() - from));
    QByteArray row;
    for (qint64 i = from; i < cards.size(); ++i) {
        if (i % kCardsBetweenStopChecks == 0)
            throwIfStopRequested(stop);
        const int guarded = buildRow(row, cards.fieldsUtf8(i), presence, shape, nameFromStructuredName);
        later.add(distinct, row, guarded);
    }
}

} // namespace

ColumnPresence computeColumnPresence(const CardList &cards)
{
    ColumnPresence presence{};
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const ContactFieldsUtf8 fields = cards.fieldsUtf8(i);
        for (int column = 0; column < kContactColumnCount; ++column) {
            if (!fields[size_t(column)].isEmpty())
                presence[size_t(column)] = true;
        }
    }
    return presence;
}

ColumnPresence flavorDrops(CsvFlavor flavor)
{
    ColumnPresence drops{};
    const int index = flavorIndex(ExportType::Csv, flavor);
    for (int column = 0; column < kContactColumnCount; ++column)
        drops[size_t(column)] = index != 0 && kHeaderNames[column][index] == nullptr;
    return drops;
}

ColumnPresence exportedColumns(ColumnPresence presence, ExportType fileType, CsvFlavor flavor)
{
    if (fileType == ExportType::Csv) {
        // A structured name without a formatted one is written in the name column.
        if (namesFromStructuredName(fileType, flavor))
            presence[size_t(ContactColumn::FormattedName)]
                = presence[size_t(ContactColumn::FormattedName)] || presence[size_t(ContactColumn::StructuredName)];
        const ColumnPresence drops = flavorDrops(flavor);
        for (int column = 0; column < kContactColumnCount; ++column)
            presence[size_t(column)] = presence[size_t(column)] && !drops[size_t(column)];
    }
    return presence;
}

bool rowsAreNeverBlank(const ColumnPresence &exported, RowFormat format)
{
    // Every row quotes every exported column.
    return format.quoteMark.unicode() > 0x20 && std::find(exported.begin(), exported.end(), true) != exported.end();
}

ExportTable buildExportTable(CardList cards, ColumnPresence presence, ExportType fileType, CsvFlavor flavor,
                             RowFormat format, TableParts parts, const CardProgress &progress,
                             const std::stop_token &stop)
{
    ExportTable table;
    presence = exportedColumns(presence, fileType, flavor);
    table.presence = presence;

    const bool wantRows = int(parts) & int(TableParts::Rows);
    const bool wantTxt = int(parts) & int(TableParts::TxtLines);
    const qint64 count = cards.size();
    const RowBytes shape(format);
    const bool nameFromStructuredName = namesFromStructuredName(fileType, flavor);

    // On large tables a second thread builds and keeps the distinct rows of the later half
    // while this one does the earlier half; this one then drops the later rows that repeat
    // earlier ones, which leaves the rows that one pass in card order keeps, in that order.
    const qint64 half = wantRows && count >= kCardsWorthASecondThread ? count / 2 : count;
    LaterRows later;
    std::optional<HelperThread> helper;
    if (half < count)
        helper.emplace([&] { buildLaterRows(later, cards, half, presence, shape, nameFromStructuredName, stop); });

    DistinctRows distinct(table.rows, wantRows ? half : 0);
    QByteArray row;
    for (qint64 i = 0; i < count; ++i) {
        if (i % kCardsBetweenStopChecks == 0)
            throwIfStopRequested(stop);
        if (progress)
            progress(i + 1, count);
        if (i == half && helper) {
            helper->join();
            if (!wantTxt)
                cards.clear(); // every row is built: the cards' memory goes before the rows grow
            later.removeRepeatsOf(distinct, stop);
            table.rows.appendLines(std::move(later.rows));
            table.guardedFields += later.guardedFields;
        }
        if (wantRows && i < half) {
            const int guarded = buildRow(row, cards.fieldsUtf8(i), presence, shape, nameFromStructuredName);
            if (distinct.add(row, DistinctRows::hashOf(row)))
                table.guardedFields += guarded;
        }
        if (wantTxt)
            appendTxtBlock(table.txtLines, cards.fieldsUtf8(i), presence);
    }
    return table;
}

void removeBlankRows(TextLines &rows)
{
    qsizetype blank = 0;
    while (blank < rows.size() && !isBlankText(rows.utf8At(blank)))
        ++blank;
    if (blank == rows.size())
        return;
    TextLines kept;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!isBlankText(rows.utf8At(i)))
            kept.appendUtf8(rows.utf8At(i));
    }
    rows = std::move(kept);
}

QStringList columnNames(const ColumnPresence &presence, ExportType fileType, CsvFlavor flavor)
{
    const int index = flavorIndex(fileType, flavor);
    QStringList names;
    for (int column = 0; column < kContactColumnCount; ++column) {
        const char *name = kHeaderNames[column][index];
        if (presence[size_t(column)] && name != nullptr)
            names.append(QString::fromLatin1(name));
    }
    return names;
}

QString buildHeaderRow(const ColumnPresence &presence, ExportType fileType, CsvFlavor flavor, RowFormat format)
{
    return buildHeaderRow(columnNames(presence, fileType, flavor), format);
}

QString buildHeaderRow(const QStringList &names, RowFormat format)
{
    QString header;
    for (const QString &name : names)
        header += format.quoteMark + name + format.quoteMark + format.delimiter;
    chopTrailingDelimiter(header, format.delimiter);
    return header;
}
