#include "engine/exporttable.h"

#include "engine/helperthread.h"
#include "text/textformat.h"

#include <QHashFunctions>

#include <optional>
#include <unordered_set>

namespace {

constexpr int kFlavorCount = 4;

/* The flavours in the order of the header-name table. */
int flavorIndex(const QString &fileType, const QString &flavor)
{
    if (fileType != QLatin1String("CSV"))
        return 0;
    if (flavor == QLatin1String("outlook"))
        return 1;
    if (flavor == QLatin1String("google"))
        return 2;
    if (flavor == QLatin1String("yahoo"))
        return 3;
    return 0;
}

// Header names per column: default, outlook, google, yahoo. nullptr: no name in that flavour.
const char *const kHeaderNames[kContactColumnCount][kFlavorCount] = {
    {"Name", "First Name", "Name", "First Name"},
    {"Given Name", nullptr, "Given Name", nullptr},
    {"Phone", "Home Phone", "Phone 1 - Value", "Phone"},
    {"Phone2", "Business Phone", "Phone 2 - Value", "Home"},
    {"Phone3", "Business Phone 2", "Phone 3 - Value", "Work"},
    {"Organization", "Company", "Organization 1 - Name", "Company"},
    {"Address", "Home Address", "Address 1 - Formatted", "Home Address"},
    {"Revision", "Department", "Subject", "Job Title"},
    {"Email", "E-mail Address", "E-mail 1 - Value", "Email"},
    {"Email2", "E-mail 2 Address", "E-mail 2 - Value", "Home Email"},
    {"Email3", "E-mail 3 Address", nullptr, "Work Email"},
    {"Email4", nullptr, nullptr, nullptr},
    {"Email5", nullptr, nullptr, nullptr},
    {"URL", "Web Page", "Website 1 - Value", "website"},
    {"Note", "Notes", "Notes", "Notes"},
};

void appendWithoutQuotes(QString &out, QStringView text, QChar quoteMark)
{
    if (std::find(text.begin(), text.end(), quoteMark) == text.end()) {
        out.append(text.data(), text.size());
        return;
    }
    const qsizetype start = out.size();
    out.resize(start + text.size());
    QChar *write = out.data() + start;
    for (const QChar c : text) {
        if (c != quoteMark)
            *write++ = c;
    }
    out.truncate(write - out.constData());
}

void chopTrailingDelimiter(QString &row, QChar delimiter)
{
    if (row.endsWith(delimiter))
        row.chop(1);
}

QString buildRow(const ContactCard &card, const ColumnPresence &presence, RowFormat format)
{
    qsizetype length = 0;
    for (int column = 0; column < kContactColumnCount; ++column)
        length += presence[size_t(column)] ? card.field(column).size() + 3 : 0;
    QString row;
    row.reserve(length);
    for (int column = 0; column < kContactColumnCount; ++column) {
        if (!presence[size_t(column)])
            continue;
        row += format.quoteMark;
        appendWithoutQuotes(row, card.field(column), format.quoteMark);
        row += format.quoteMark;
        row += format.delimiter;
    }
    chopTrailingDelimiter(row, format.delimiter);
    return row;
}

void appendTxtBlock(QStringList &txtLines, const ContactCard &card, const ColumnPresence &presence, QChar quoteMark)
{
    for (int column = 0; column < kContactColumnCount; ++column) {
        if (!presence[size_t(column)])
            continue;
        QString text;
        appendWithoutQuotes(text, card.field(column), quoteMark);
        if (!trimControlAndBlank(text).isEmpty())
            txtLines.append(text);
    }
    txtLines.append(QString());
}

/* A row with its hash, so that hashing can happen on the thread that built the row. */
struct HashedRow {
    QString text;
    size_t hash = 0;

    static HashedRow of(QString text)
    {
        const size_t hash = qHash(text);
        return {std::move(text), hash};
    }
};

/* Keeps the first of identical rows (exact, case-sensitive), in the order they come. */
class DistinctRows
{
public:
    DistinctRows(QStringList &rows, qint64 expected)
        : m_rows(rows)
    {
        m_rows.reserve(expected);
        m_seen.reserve(size_t(expected));
    }

    void add(HashedRow row)
    {
        // The view stays valid after the move: a moved string keeps its text where it is.
        if (m_seen.insert(Key{QStringView(row.text), row.hash}).second)
            m_rows.append(std::move(row.text));
    }

private:
    struct Key {
        QStringView text;
        size_t hash;
        bool operator==(const Key &other) const { return text == other.text; }
    };
    struct KeyHash {
        size_t operator()(const Key &key) const { return key.hash; }
    };

    QStringList &m_rows;
    std::unordered_set<Key, KeyHash> m_seen;
};

} // namespace

ColumnPresence computeColumnPresence(const std::vector<ContactCard> &cards)
{
    ColumnPresence presence{};
    for (const ContactCard &card : cards) {
        for (int column = 0; column < kContactColumnCount; ++column) {
            if (!card.field(column).isEmpty())
                presence[size_t(column)] = true;
        }
    }
    return presence;
}

ColumnPresence flavorDrops(const QString &flavor)
{
    ColumnPresence drops{};
    const int index = flavorIndex(QStringLiteral("CSV"), flavor);
    for (int column = 0; column < kContactColumnCount; ++column)
        drops[size_t(column)] = index != 0 && kHeaderNames[column][index] == nullptr;
    return drops;
}

ExportTable buildExportTable(std::vector<ContactCard> cards, ColumnPresence presence, const QString &fileType,
                             const QString &flavor, RowFormat format, TableParts parts, const CardProgress &progress)
{
    ExportTable table;
    if (fileType == QLatin1String("CSV")) {
        const ColumnPresence drops = flavorDrops(flavor);
        for (int column = 0; column < kContactColumnCount; ++column)
            presence[size_t(column)] = presence[size_t(column)] && !drops[size_t(column)];
    }
    table.presence = presence;

    const bool wantRows = int(parts) & int(TableParts::Rows);
    const bool wantTxt = int(parts) & int(TableParts::TxtLines);
    const qint64 count = qint64(cards.size());

    // On large tables a second thread builds the rows of the later half while this one builds
    // and keeps the earlier half; rows are then kept in card order, so the result is the same.
    constexpr qint64 kCardsWorthASecondThread = 20000;
    const qint64 half = wantRows && count >= kCardsWorthASecondThread ? count / 2 : count;
    std::vector<HashedRow> laterRows;
    std::optional<HelperThread> helper;
    if (half < count) {
        helper.emplace([&] {
            laterRows.reserve(size_t(count - half));
            for (qint64 i = half; i < count; ++i) {
                laterRows.push_back(HashedRow::of(buildRow(cards[size_t(i)], presence, format)));
                if (!wantTxt)
                    cards[size_t(i)] = ContactCard();
            }
        });
    }

    DistinctRows distinct(table.rows, wantRows ? count : 0);
    for (qint64 i = 0; i < count; ++i) {
        if (progress)
            progress(i + 1, count);
        if (i == half && helper)
            helper->join();
        ContactCard &card = cards[size_t(i)];
        if (wantRows)
            distinct.add(i < half ? HashedRow::of(buildRow(card, presence, format))
                                  : std::move(laterRows[size_t(i - half)]));
        if (wantTxt)
            appendTxtBlock(table.txtLines, card, presence, format.quoteMark);
        card = ContactCard(); // its text is no longer needed
    }
    return table;
}

void removeBlankRows(QStringList &rows)
{
    rows.removeIf([](const QString &row) { return trimControlAndBlank(row).isEmpty(); });
}

QString buildHeaderRow(const ColumnPresence &presence, const QString &fileType, const QString &flavor, RowFormat format)
{
    const int index = flavorIndex(fileType, flavor);
    QString header;
    for (int column = 0; column < kContactColumnCount; ++column) {
        const char *name = kHeaderNames[column][index];
        if (!presence[size_t(column)] || name == nullptr)
            continue;
        header += format.quoteMark + QString::fromLatin1(name) + format.quoteMark + format.delimiter;
    }
    chopTrailingDelimiter(header, format.delimiter);
    return header;
}
