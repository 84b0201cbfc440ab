#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <array>
#include <optional>
#include <vector>

/*
 * Every value of a contact, for the All fields columns: each property that a table can show,
 * with its label and its components, kept as one compact record of bytes per card.
 */

/** The kinds of property that All fields keeps. */
enum class PropertyKind : quint8 {
    FormattedName,
    StructuredName, // family; given; additional; prefix; suffix
    Nickname,
    Organization, // name; units …
    JobTitle,
    Role,
    Phone,
    Email,
    Address, // PO box; extended; street; city; region; postal code; country
    Birthday,
    Anniversary,
    Website,
    Photo, // a photo given as a web address
    Messaging,
    Related,
    Categories, // one component per category
    Note,
    Gender,
    Revision,
    PhoneticFirstName,
    PhoneticMiddleName,
    PhoneticLastName,
};
inline constexpr int kPropertyKindCount = 22;

/** The label of a phone, an e-mail address, an address or a web page; Other for none (or one of no use). */
enum class PropertyLabel : quint8 { Other, Mobile, Home, Work, HomeFax, WorkFax, Fax, Pager };

/** The words of TYPE parameters (or Apple's labels) that decide a label. */
enum TypeFlag : quint8 {
    TypeCell = 1,
    TypeFax = 2,
    TypePager = 4,
    TypeHome = 8,
    TypeWork = 16,
};

/**
 * The type words of a property line's parameters, upper-cased and without the property name
 * (the text between the name's first ";" and the value's colon): TYPE=cell,voice,
 * TYPE=CELL;TYPE=VOICE, TYPE="work,fax" and the bare vCard 2.1 form CELL;VOICE.
 */
quint8 typeFlagsOfParameters(QByteArrayView upperParameters);

/** The type words of one of Apple's own X-ABLabel values; nothing for any other label. */
std::optional<quint8> typeFlagsOfAppleLabel(QByteArrayView label);

/** Whether an X-ABLabel value is Apple's label of an anniversary. */
bool isAppleAnniversaryLabel(QByteArrayView label);

/** The label that type words give a property of kind (Phone, Email, Address or Website). */
PropertyLabel labelFor(PropertyKind kind, quint8 typeFlags);

/**
 * Appends properties to cards' records, with buffers that it keeps from call to call, so that a
 * card's properties cost no allocation once they have grown.
 */
class RecordWriter
{
public:
    /**
     * Appends one property to a card's record. rawValue is the decoded value with its vCard
     * escapes still in place: it is split into components at each ";" that is not escaped
     * (names, addresses, organisations, genders) or each "," (categories), then every component
     * has its escapes undone (a "\n" gives a line feed), its line breaks made line feeds and its
     * ends trimmed. A property whose components are all empty is left out; returns whether it
     * was appended.
     */
    bool append(QByteArray &record, PropertyKind kind, PropertyLabel label, QByteArrayView rawValue);

private:
    std::vector<QByteArrayView> m_parts;
    std::vector<QByteArray> m_cleaned;
};

/** One property of a record: components are views into the record. */
struct RecordProperty {
    PropertyKind kind = PropertyKind::Note;
    PropertyLabel label = PropertyLabel::Other;
    std::vector<QByteArrayView> components;

    /** The component at index, empty when there is none. */
    QByteArrayView component(size_t index) const
    {
        return index < components.size() ? components[index] : QByteArrayView();
    }
};

/** Reads the properties of a record in the order in which they were appended. */
class RecordReader
{
public:
    explicit RecordReader(QByteArrayView record)
        : m_record(record)
    {
    }

    /** Reads the next property into property; false at the record's end. */
    bool next(RecordProperty &property);

private:
    QByteArrayView m_record;
    qsizetype m_at = 0;
};

/** How many values of each kind an export had no column for. */
struct LeftOutValues {
    std::array<qint64, kPropertyKindCount> counts{};

    void add(PropertyKind kind, qint64 n = 1) { counts[size_t(kind)] += n; }
    qint64 total() const;
    LeftOutValues &operator+=(const LeftOutValues &other);
};

/**
 * A date as ISO 8601 ("1975-12-12", "--12-12" without a year) from the forms vCard writers use:
 * 1975-12-12, 19751212, 1975-12-12T00:00:00Z, --1212, --12-12. Any other text stays as it is.
 */
QByteArray isoDate(QByteArrayView date);

/** The parts of a date that isoDate understands; year 0 when it has none. */
struct DateParts {
    int year = 0;
    int month = 0;
    int day = 0;
};
std::optional<DateParts> parseDate(QByteArrayView date);
