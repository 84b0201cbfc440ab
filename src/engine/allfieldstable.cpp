#include "engine/allfieldstable.h"

#include "engine/cardscanner.h"
#include "engine/csvrows.h"
#include "engine/valuedecoding.h"
#include "i18n/translate.h"
#include "text/helperthread.h"
#include "text/textformat.h"
#include "text/workstop.h"

#include <QLocale>

#include <algorithm>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace {

enum class Layout { Plain, Google, Outlook };

Layout layoutFor(ExportType fileType, CsvFlavor flavor)
{
    if (fileType == ExportType::Csv && flavor == CsvFlavor::Google)
        return Layout::Google;
    if (fileType == ExportType::Csv && flavor == CsvFlavor::Outlook)
        return Layout::Outlook;
    return Layout::Plain;
}

QByteArray joined(const std::vector<QByteArrayView> &texts, QByteArrayView separator)
{
    QByteArray out;
    for (const QByteArrayView text : texts) {
        if (text.isEmpty())
            continue;
        if (!out.isEmpty())
            out.append(separator);
        out.append(text);
    }
    return out;
}

/* The texts that a card's values need besides the record's own bytes, kept while its row is made. */
class MadeTexts
{
public:
    QByteArrayView keep(QByteArray text) { return m_texts.emplace_back(std::move(text)); }
    void clear() { m_texts.clear(); }

    /* A phone's number as dialableNumber gives it, or the value itself. */
    QByteArrayView phone(QByteArrayView value)
    {
        QByteArray number = dialableNumber(value);
        return number.isEmpty() ? value : keep(std::move(number));
    }

private:
    std::deque<QByteArray> m_texts;
};

/*
 * What reading one card into a layout's columns needs: the property read last, the texts made
 * for the card, and where the values that the layout has no place for are counted.
 */
class CardReading
{
protected:
    /* Counts a value that has no column (when counting is asked for). */
    void leaveOut(PropertyKind kind)
    {
        if (m_leftOut)
            m_leftOut->add(kind);
    }

    LeftOutValues *m_leftOut = nullptr;
    RecordProperty m_property;
    MadeTexts m_made;
};

/* A card's text block: its non-blank values in column order, a line break as a space. */
template<typename FieldAt>
void appendTextBlock(TextLines &txtLines, qsizetype fieldCount, const FieldAt &fieldAt, QByteArray &scratch)
{
    for (qsizetype i = 0; i < fieldCount; ++i) {
        const QByteArrayView value = fieldAt(i);
        if (trimControlAndBlank(value).isEmpty())
            continue;
        scratch = value.toByteArray();
        std::replace(scratch.begin(), scratch.end(), '\n', ' ');
        txtLines.appendUtf8(scratch);
    }
    txtLines.appendUtf8(QByteArrayView());
}

// ---------------------------------------------------------------------------------------------
// The default layout (also Excel's, workbooks' and the text layout's): columns as the data needs.

/* The groups of columns, in their order; a group's columns repeat, numbered, for a second value. */
enum PlainGroup {
    NameGroup,
    StructuredNameGroup,
    NicknameGroup,
    OrganizationGroup,
    JobTitleGroup,
    RoleGroup,
    MobileGroup,
    HomePhoneGroup,
    WorkPhoneGroup,
    HomeFaxGroup,
    WorkFaxGroup,
    FaxGroup,
    PagerGroup,
    PhoneGroup,
    HomeEmailGroup,
    WorkEmailGroup,
    EmailGroup,
    HomeAddressGroup,
    WorkAddressGroup,
    OtherAddressGroup,
    BirthdayGroup,
    AnniversaryGroup,
    WebsiteGroup,
    PhotoGroup,
    MessagingGroup,
    RelatedGroup,
    CategoriesGroup,
    NoteGroup,
    GenderGroup,
    RevisionGroup,
};
constexpr int kPlainGroupCount = RevisionGroup + 1;

constexpr int kMostParts = 7;

struct ColumnGroup {
    const char *label; // an address's label, which goes before the number; else nullptr
    std::array<const char *, kMostParts> parts;
};

#define TESSALY_ADDRESS_PARTS                                                              \
    {                                                                                      \
        "Street", "Extended Address", "PO Box", "City", "Region", "Postal Code", "Country" \
    }
constexpr ColumnGroup kPlainGroups[kPlainGroupCount] = {
    {nullptr, {"Name"}},
    {nullptr, {"Prefix", "Given Name", "Middle Name", "Family Name", "Suffix"}},
    {nullptr, {"Nickname"}},
    {nullptr, {"Organization", "Department"}},
    {nullptr, {"Job Title"}},
    {nullptr, {"Role"}},
    {nullptr, {"Mobile"}},
    {nullptr, {"Home Phone"}},
    {nullptr, {"Work Phone"}},
    {nullptr, {"Home Fax"}},
    {nullptr, {"Work Fax"}},
    {nullptr, {"Fax"}},
    {nullptr, {"Pager"}},
    {nullptr, {"Phone"}},
    {nullptr, {"Home Email"}},
    {nullptr, {"Work Email"}},
    {nullptr, {"Email"}},
    {"Home", TESSALY_ADDRESS_PARTS},
    {"Work", TESSALY_ADDRESS_PARTS},
    {"Other", TESSALY_ADDRESS_PARTS},
    {nullptr, {"Birthday"}},
    {nullptr, {"Anniversary"}},
    {nullptr, {"Website"}},
    {nullptr, {"Photo"}},
    {nullptr, {"Messaging"}},
    {nullptr, {"Related"}},
    {nullptr, {"Categories"}},
    {nullptr, {"Note"}},
    {nullptr, {"Gender"}},
    {nullptr, {"Revision"}},
};
#undef TESSALY_ADDRESS_PARTS

/* The name of a group's column: "Mobile", "Mobile 2", "Home Street", "Home 2 Street". */
QString plainColumnName(int group, int number, int part)
{
    const ColumnGroup &columns = kPlainGroups[group];
    const QString name = QString::fromLatin1(columns.parts[size_t(part)]);
    const QString suffix = number > 1 ? QString::number(number) : QString();
    if (columns.label == nullptr)
        return suffix.isEmpty() ? name : name + u' ' + suffix;
    const QString label = QString::fromLatin1(columns.label);
    return suffix.isEmpty() ? label + u' ' + name : label + u' ' + suffix + u' ' + name;
}

int phoneGroup(PropertyLabel label)
{
    switch (label) {
    case PropertyLabel::Mobile:
        return MobileGroup;
    case PropertyLabel::Home:
        return HomePhoneGroup;
    case PropertyLabel::Work:
        return WorkPhoneGroup;
    case PropertyLabel::HomeFax:
        return HomeFaxGroup;
    case PropertyLabel::WorkFax:
        return WorkFaxGroup;
    case PropertyLabel::Fax:
        return FaxGroup;
    case PropertyLabel::Pager:
        return PagerGroup;
    case PropertyLabel::Other:
        break;
    }
    return PhoneGroup;
}

/* The group of an e-mail address (first) or an address (firstAddress) by its label. */
int homeWorkOther(PropertyLabel label, int home)
{
    return label == PropertyLabel::Home ? home : label == PropertyLabel::Work ? home + 1 : home + 2;
}

/* One value of a group: its parts, in the group's column order. */
using GroupValue = std::array<QByteArrayView, kMostParts>;

/* A card's values by group, in the order they came; a value that repeats one of its group is kept once. */
class PlainCard : private CardReading
{
public:
    void read(QByteArrayView record)
    {
        for (std::vector<GroupValue> &values : m_groups)
            values.clear();
        m_made.clear();
        m_categories.clear();
        RecordReader reader(record);
        while (reader.next(m_property))
            take(m_property);
        if (!m_categories.empty())
            add(CategoriesGroup, {m_made.keep(joined(m_categories, ", "))});
    }

    const std::vector<GroupValue> &values(int group) const { return m_groups[size_t(group)]; }

private:
    void add(int group, const GroupValue &value)
    {
        std::vector<GroupValue> &values = m_groups[size_t(group)];
        if (std::find(values.begin(), values.end(), value) == values.end())
            values.push_back(value);
    }

    void take(const RecordProperty &p)
    {
        const auto first = p.component(0);
        switch (p.kind) {
        case PropertyKind::FormattedName:
            return add(NameGroup, {first});
        case PropertyKind::StructuredName:
            return add(StructuredNameGroup, {p.component(3), p.component(1), p.component(2), first, p.component(4)});
        case PropertyKind::Nickname:
            return add(NicknameGroup, {first});
        case PropertyKind::Organization: {
            const std::vector<QByteArrayView> units(p.components.begin() + 1, p.components.end());
            return add(OrganizationGroup, {first, m_made.keep(joined(units, " "))});
        }
        case PropertyKind::JobTitle:
            return add(JobTitleGroup, {first});
        case PropertyKind::Role:
            return add(RoleGroup, {first});
        case PropertyKind::Phone:
            return add(phoneGroup(p.label), {m_made.phone(first)});
        case PropertyKind::Email:
            return add(homeWorkOther(p.label, HomeEmailGroup), {first});
        case PropertyKind::Address:
            return add(homeWorkOther(p.label, HomeAddressGroup), {p.component(2), p.component(1), first, p.component(3),
                                                                  p.component(4), p.component(5), p.component(6)});
        case PropertyKind::Birthday:
            return add(BirthdayGroup, {m_made.keep(isoDate(first))});
        case PropertyKind::Anniversary:
            return add(AnniversaryGroup, {m_made.keep(isoDate(first))});
        case PropertyKind::Website:
            return add(WebsiteGroup, {first});
        case PropertyKind::Photo:
            return add(PhotoGroup, {first});
        case PropertyKind::Messaging:
            return add(MessagingGroup, {first});
        case PropertyKind::Related:
            return add(RelatedGroup, {first});
        case PropertyKind::Categories:
            for (const QByteArrayView category : p.components) {
                if (!category.isEmpty()
                    && std::find(m_categories.begin(), m_categories.end(), category) == m_categories.end())
                    m_categories.push_back(category);
            }
            return;
        case PropertyKind::Note:
            return add(NoteGroup, {first});
        case PropertyKind::Gender:
            return add(GenderGroup, {m_made.keep(joined(p.components, "; "))});
        case PropertyKind::Revision:
            return add(RevisionGroup, {first});
        case PropertyKind::PhoneticFirstName:
        case PropertyKind::PhoneticMiddleName:
        case PropertyKind::PhoneticLastName:
            return; // only Google's header set has columns for them
        }
    }

    std::array<std::vector<GroupValue>, kPlainGroupCount> m_groups;
    std::vector<QByteArrayView> m_categories;
};

/* A column of a group that repeats, numbered: which group, which value of it, which part. */
struct GroupColumn {
    int group;
    int number; // from 0
    int part;
};

/* Which columns some card has a value in. */
class PlainPresence
{
public:
    void measure(const CardList &cards, qint64 from, qint64 to, const std::stop_token &stop)
    {
        PlainCard card;
        for (qint64 i = from; i < to; ++i) {
            if (i % kCardsBetweenStopChecks == 0)
                throwIfStopRequested(stop);
            card.read(cards.field(i, kRecordColumn));
            for (int group = 0; group < kPlainGroupCount; ++group)
                add(group, card.values(group));
        }
    }

    void merge(const PlainPresence &other)
    {
        for (int group = 0; group < kPlainGroupCount; ++group) {
            std::vector<quint8> &parts = m_parts[size_t(group)];
            const std::vector<quint8> &others = other.m_parts[size_t(group)];
            if (parts.size() < others.size())
                parts.resize(others.size());
            for (size_t n = 0; n < others.size(); ++n)
                parts[n] |= others[n];
        }
    }

    /* The present columns, in the groups' order, then by number, then by part. */
    std::vector<GroupColumn> columns() const
    {
        std::vector<GroupColumn> columns;
        for (int group = 0; group < kPlainGroupCount; ++group) {
            const std::vector<quint8> &parts = m_parts[size_t(group)];
            for (size_t n = 0; n < parts.size(); ++n) {
                for (int part = 0; part < kMostParts; ++part) {
                    if (parts[n] & (1 << part))
                        columns.push_back({group, int(n), part});
                }
            }
        }
        return columns;
    }

private:
    void add(int group, const std::vector<GroupValue> &values)
    {
        std::vector<quint8> &parts = m_parts[size_t(group)];
        if (parts.size() < values.size())
            parts.resize(values.size());
        for (size_t n = 0; n < values.size(); ++n) {
            for (int part = 0; part < kMostParts; ++part) {
                if (!values[n][size_t(part)].isEmpty())
                    parts[n] |= quint8(1 << part);
            }
        }
    }

    // Per group, per number: the parts that hold a value somewhere.
    std::array<std::vector<quint8>, kPlainGroupCount> m_parts;
};

/* A card's fields in the present columns. */
class PlainSource
{
public:
    explicit PlainSource(const std::vector<GroupColumn> &columns)
        : m_columns(columns)
    {
    }

    void read(QByteArrayView record, LeftOutValues *) { m_card.read(record); }
    qsizetype fieldCount() const { return qsizetype(m_columns.size()); }

    QByteArrayView field(qsizetype i) const
    {
        const GroupColumn &column = m_columns[size_t(i)];
        const std::vector<GroupValue> &values = m_card.values(column.group);
        return size_t(column.number) < values.size() ? values[size_t(column.number)][size_t(column.part)]
                                                     : QByteArrayView();
    }

private:
    const std::vector<GroupColumn> &m_columns;
    PlainCard m_card;
};

// ---------------------------------------------------------------------------------------------
// Google's header set.

constexpr const char *kGoogleFixedColumns[] = {
    "First Name",
    "Middle Name",
    "Last Name",
    "Phonetic First Name",
    "Phonetic Middle Name",
    "Phonetic Last Name",
    "Name Prefix",
    "Name Suffix",
    "Nickname",
    "File As",
    "Organization Name",
    "Organization Title",
    "Organization Department",
    "Birthday",
    "Notes",
    "Photo",
    "Labels",
};
enum GoogleFixed {
    GoogleFirstName,
    GoogleMiddleName,
    GoogleLastName,
    GooglePhoneticFirst,
    GooglePhoneticMiddle,
    GooglePhoneticLast,
    GooglePrefix,
    GoogleSuffix,
    GoogleNickname,
    GoogleFileAs,
    GoogleOrganization,
    GoogleTitle,
    GoogleDepartment,
    GoogleBirthday,
    GoogleNotes,
    GooglePhoto,
    GoogleLabels,
};
constexpr int kGoogleFixedCount = GoogleLabels + 1;
static_assert(std::size(kGoogleFixedColumns) == kGoogleFixedCount);

/* Google's numbered groups, and the columns of each after its number ("E-mail 1 - Value"). */
struct GoogleGroup {
    const char *name;
    std::vector<const char *> columns;
};
const GoogleGroup kGoogleGroups[] = {
    {"E-mail", {"Label", "Value"}},
    {"Phone", {"Label", "Value"}},
    {"Address",
     {"Label", "Formatted", "Street", "City", "PO Box", "Region", "Postal Code", "Country", "Extended Address"}},
    {"Website", {"Label", "Value"}},
    {"Event", {"Label", "Value"}},
};
enum GoogleGroupIndex { GoogleEmails, GooglePhones, GoogleAddresses, GoogleWebsites, GoogleEvents };
constexpr int kGoogleGroupCount = GoogleEvents + 1;

const char *googleLabel(PropertyKind kind, PropertyLabel label)
{
    switch (label) {
    case PropertyLabel::Mobile:
        return "Mobile";
    case PropertyLabel::Home:
        return kind == PropertyKind::Website ? "Home Page" : "Home";
    case PropertyLabel::Work:
        return "Work";
    case PropertyLabel::HomeFax:
        return "Home Fax";
    case PropertyLabel::WorkFax:
        return "Work Fax";
    case PropertyLabel::Fax:
        return "Other Fax";
    case PropertyLabel::Pager:
        return "Pager";
    case PropertyLabel::Other:
        break;
    }
    return "Other";
}

/* An address as one text, the way Google shows it: street lines, "City, Region Postal Code", country. */
QByteArray formattedAddress(const RecordProperty &address)
{
    QByteArray place = address.component(3).toByteArray();
    const QByteArray regionAndCode = joined({address.component(4), address.component(5)}, " ");
    if (!place.isEmpty() && !regionAndCode.isEmpty())
        place += ", ";
    place += regionAndCode;
    return joined({address.component(2), address.component(1), address.component(0), place, address.component(6)},
                  "\n");
}

class GoogleCard : private CardReading
{
public:
    using Entry = std::vector<QByteArrayView>;

    void read(QByteArrayView record, LeftOutValues *leftOut)
    {
        for (std::vector<QByteArrayView> &values : m_fixed)
            values.clear();
        for (std::vector<Entry> &entries : m_groups)
            entries.clear();
        m_made.clear();
        m_formattedName = {};
        m_names = 0;
        m_leftOut = leftOut;
        RecordReader reader(record);
        while (reader.next(m_property))
            take(m_property);
        // An importer shows a contact by its first and last names: without them, the whole name.
        if (m_fixed[GoogleFirstName].empty() && m_fixed[GoogleLastName].empty() && !m_formattedName.isEmpty())
            m_fixed[GoogleFirstName].push_back(m_formattedName);
    }

    /* The fixed column's text: several values joined as Google joins them. */
    QByteArrayView fixed(int column)
    {
        const std::vector<QByteArrayView> &values = m_fixed[size_t(column)];
        if (values.size() <= 1)
            return values.empty() ? QByteArrayView() : values.front();
        return m_made.keep(joined(values, column == GoogleNotes ? "\n" : " ::: "));
    }

    const std::vector<Entry> &entries(int group) const { return m_groups[size_t(group)]; }

private:
    void put(int column, QByteArrayView value)
    {
        std::vector<QByteArrayView> &values = m_fixed[size_t(column)];
        if (!value.isEmpty() && std::find(values.begin(), values.end(), value) == values.end())
            values.push_back(value);
    }

    void take(const RecordProperty &p)
    {
        const auto first = p.component(0);
        const auto label = [&p] { return QByteArrayView(googleLabel(p.kind, p.label)); };
        switch (p.kind) {
        case PropertyKind::FormattedName:
            if (m_formattedName.isEmpty())
                m_formattedName = first;
            return;
        case PropertyKind::StructuredName:
            if (m_names++ > 0)
                return leaveOut(p.kind);
            put(GoogleFirstName, p.component(1));
            put(GoogleMiddleName, p.component(2));
            put(GoogleLastName, first);
            put(GooglePrefix, p.component(3));
            return put(GoogleSuffix, p.component(4));
        case PropertyKind::PhoneticFirstName:
            return put(GooglePhoneticFirst, first);
        case PropertyKind::PhoneticMiddleName:
            return put(GooglePhoneticMiddle, first);
        case PropertyKind::PhoneticLastName:
            return put(GooglePhoneticLast, first);
        case PropertyKind::Nickname:
            return put(GoogleNickname, first);
        case PropertyKind::Organization: {
            put(GoogleOrganization, first);
            const std::vector<QByteArrayView> units(p.components.begin() + 1, p.components.end());
            return put(GoogleDepartment, m_made.keep(joined(units, " ")));
        }
        case PropertyKind::JobTitle:
            return put(GoogleTitle, first);
        case PropertyKind::Birthday:
            return put(GoogleBirthday, m_made.keep(isoDate(first)));
        case PropertyKind::Note:
            return put(GoogleNotes, first);
        case PropertyKind::Photo:
            return put(GooglePhoto, first);
        case PropertyKind::Categories:
            for (const QByteArrayView category : p.components)
                put(GoogleLabels, category);
            return;
        case PropertyKind::Email:
            return add(GoogleEmails, {label(), first});
        case PropertyKind::Phone:
            return add(GooglePhones, {label(), m_made.phone(first)});
        case PropertyKind::Address:
            return add(GoogleAddresses, {label(), m_made.keep(formattedAddress(p)), p.component(2), p.component(3),
                                         first, p.component(4), p.component(5), p.component(6), p.component(1)});
        case PropertyKind::Website:
            return add(GoogleWebsites, {label(), first});
        case PropertyKind::Anniversary:
            return add(GoogleEvents, {"Anniversary", m_made.keep(isoDate(first))});
        case PropertyKind::Revision:
            return; // when the card was changed: no detail of the contact
        case PropertyKind::Role:
        case PropertyKind::Messaging:
        case PropertyKind::Related:
        case PropertyKind::Gender:
            return leaveOut(p.kind);
        }
    }

    void add(int group, Entry entry)
    {
        std::vector<Entry> &entries = m_groups[size_t(group)];
        if (std::find(entries.begin(), entries.end(), entry) == entries.end())
            entries.push_back(std::move(entry));
    }

    std::array<std::vector<QByteArrayView>, kGoogleFixedCount> m_fixed;
    std::array<std::vector<Entry>, kGoogleGroupCount> m_groups;
    QByteArrayView m_formattedName;
    int m_names = 0;
};

// ---------------------------------------------------------------------------------------------
// Outlook's header set: fixed slots.

constexpr const char *kOutlookColumns[] = {
    "Title",
    "First Name",
    "Middle Name",
    "Last Name",
    "Suffix",
    "Company",
    "Department",
    "Job Title",
    "Business Street",
    "Business City",
    "Business State",
    "Business Postal Code",
    "Business Country/Region",
    "Home Street",
    "Home City",
    "Home State",
    "Home Postal Code",
    "Home Country/Region",
    "Other Street",
    "Other City",
    "Other State",
    "Other Postal Code",
    "Other Country/Region",
    "Business Fax",
    "Business Phone",
    "Business Phone 2",
    "Home Fax",
    "Home Phone",
    "Home Phone 2",
    "Mobile Phone",
    "Other Fax",
    "Other Phone",
    "Pager",
    "Anniversary",
    "Birthday",
    "Categories",
    "E-mail Address",
    "E-mail 2 Address",
    "E-mail 3 Address",
    "Nickname",
    "Notes",
    "Web Page",
};
enum OutlookColumn {
    OutlookTitle,
    OutlookFirstName,
    OutlookMiddleName,
    OutlookLastName,
    OutlookSuffix,
    OutlookCompany,
    OutlookDepartment,
    OutlookJobTitle,
    OutlookBusinessStreet,
    OutlookHomeStreet = OutlookBusinessStreet + 5,
    OutlookOtherStreet = OutlookHomeStreet + 5,
    OutlookBusinessFax = OutlookOtherStreet + 5,
    OutlookBusinessPhone,
    OutlookBusinessPhone2,
    OutlookHomeFax,
    OutlookHomePhone,
    OutlookHomePhone2,
    OutlookMobilePhone,
    OutlookOtherFax,
    OutlookOtherPhone,
    OutlookPager,
    OutlookAnniversary,
    OutlookBirthday,
    OutlookCategories,
    OutlookEmail,
    OutlookEmail2,
    OutlookEmail3,
    OutlookNickname,
    OutlookNotes,
    OutlookWebPage,
};
constexpr int kOutlookColumnCount = OutlookWebPage + 1;
static_assert(std::size(kOutlookColumns) == kOutlookColumnCount);

/* A date as Outlook writes it in English: 12/31/1975. Without a year: nothing. */
std::optional<QByteArray> outlookDate(QByteArrayView date)
{
    const std::optional<DateParts> parts = parseDate(date);
    if (!parts)
        return date.toByteArray(); // a form that no reader would make more of
    if (parts->year == 0)
        return std::nullopt;
    return QByteArray::number(parts->month) + '/' + QByteArray::number(parts->day) + '/'
           + QByteArray::number(parts->year);
}

class OutlookCard : private CardReading
{
public:
    void read(QByteArrayView record, LeftOutValues *leftOut)
    {
        m_fields.fill({});
        m_made.clear();
        m_notes.clear();
        m_categories.clear();
        m_formattedName = {};
        m_names = 0;
        m_organizations = 0;
        m_leftOut = leftOut;
        RecordReader reader(record);
        while (reader.next(m_property))
            take(m_property);
        if (m_fields[OutlookFirstName].isEmpty() && m_fields[OutlookLastName].isEmpty())
            m_fields[OutlookFirstName] = m_formattedName;
        m_fields[OutlookNotes] = m_made.keep(joined(m_notes, "\n"));
        m_fields[OutlookCategories] = m_made.keep(joined(m_categories, ";"));
    }

    QByteArrayView field(int column) const { return m_fields[size_t(column)]; }

private:
    /* Puts value in the first free of the slots [first, first + count); counts it when all are taken. */
    void fill(int first, int count, QByteArrayView value, PropertyKind kind)
    {
        for (int slot = first; slot < first + count; ++slot) {
            if (m_fields[size_t(slot)] == value)
                return; // the same value again
            if (m_fields[size_t(slot)].isEmpty()) {
                m_fields[size_t(slot)] = value;
                return;
            }
        }
        leaveOut(kind);
    }

    void takeDate(int column, const RecordProperty &p)
    {
        const std::optional<QByteArray> date = outlookDate(p.component(0));
        if (date)
            fill(column, 1, m_made.keep(*date), p.kind);
        else
            leaveOut(p.kind); // Outlook keeps no date without its year
    }

    void takePhone(const RecordProperty &p)
    {
        const QByteArrayView number = m_made.phone(p.component(0));
        switch (p.label) {
        case PropertyLabel::Work:
            return fill(OutlookBusinessPhone, 2, number, p.kind);
        case PropertyLabel::Home:
            return fill(OutlookHomePhone, 2, number, p.kind);
        case PropertyLabel::Mobile:
            return fill(OutlookMobilePhone, 1, number, p.kind);
        case PropertyLabel::WorkFax:
            return fill(OutlookBusinessFax, 1, number, p.kind);
        case PropertyLabel::HomeFax:
            return fill(OutlookHomeFax, 1, number, p.kind);
        case PropertyLabel::Fax:
            return fill(OutlookOtherFax, 1, number, p.kind);
        case PropertyLabel::Pager:
            return fill(OutlookPager, 1, number, p.kind);
        case PropertyLabel::Other:
            return fill(OutlookOtherPhone, 1, number, p.kind);
        }
    }

    void takeAddress(const RecordProperty &p)
    {
        const int street = p.label == PropertyLabel::Work   ? OutlookBusinessStreet
                           : p.label == PropertyLabel::Home ? OutlookHomeStreet
                                                            : OutlookOtherStreet;
        const QByteArrayView streetLines = m_made.keep(joined({p.component(2), p.component(1), p.component(0)}, "\n"));
        const std::array<QByteArrayView, 5> parts
            = {streetLines, p.component(3), p.component(4), p.component(5), p.component(6)};
        const bool taken = std::any_of(m_fields.begin() + street, m_fields.begin() + street + 5,
                                       [](QByteArrayView field) { return !field.isEmpty(); });
        if (taken)
            return leaveOut(p.kind);
        std::copy(parts.begin(), parts.end(), m_fields.begin() + street);
    }

    void take(const RecordProperty &p)
    {
        const auto first = p.component(0);
        switch (p.kind) {
        case PropertyKind::FormattedName:
            if (m_formattedName.isEmpty())
                m_formattedName = first;
            return;
        case PropertyKind::StructuredName:
            if (m_names++ > 0)
                return leaveOut(p.kind);
            m_fields[OutlookLastName] = first;
            m_fields[OutlookFirstName] = p.component(1);
            m_fields[OutlookMiddleName] = p.component(2);
            m_fields[OutlookTitle] = p.component(3);
            m_fields[OutlookSuffix] = p.component(4);
            return;
        case PropertyKind::Organization: {
            if (m_organizations++ > 0)
                return leaveOut(p.kind);
            m_fields[OutlookCompany] = first;
            const std::vector<QByteArrayView> units(p.components.begin() + 1, p.components.end());
            m_fields[OutlookDepartment] = m_made.keep(joined(units, " "));
            return;
        }
        case PropertyKind::JobTitle:
            return fill(OutlookJobTitle, 1, first, p.kind);
        case PropertyKind::Nickname:
            return fill(OutlookNickname, 1, first, p.kind);
        case PropertyKind::Phone:
            return takePhone(p);
        case PropertyKind::Email:
            return fill(OutlookEmail, 3, first, p.kind);
        case PropertyKind::Address:
            return takeAddress(p);
        case PropertyKind::Birthday:
            return takeDate(OutlookBirthday, p);
        case PropertyKind::Anniversary:
            return takeDate(OutlookAnniversary, p);
        case PropertyKind::Website:
            return fill(OutlookWebPage, 1, first, p.kind);
        case PropertyKind::Note:
            m_notes.push_back(first);
            return;
        case PropertyKind::Categories:
            m_categories.insert(m_categories.end(), p.components.begin(), p.components.end());
            return;
        case PropertyKind::Revision:
            return; // when the card was changed: no detail of the contact
        case PropertyKind::Role:
        case PropertyKind::Photo:
        case PropertyKind::Messaging:
        case PropertyKind::Related:
        case PropertyKind::Gender:
        case PropertyKind::PhoneticFirstName:
        case PropertyKind::PhoneticMiddleName:
        case PropertyKind::PhoneticLastName:
            return leaveOut(p.kind);
        }
    }

    std::array<QByteArrayView, kOutlookColumnCount> m_fields;
    std::vector<QByteArrayView> m_notes;
    std::vector<QByteArrayView> m_categories;
    QByteArrayView m_formattedName;
    int m_names = 0;
    int m_organizations = 0;
};

// ---------------------------------------------------------------------------------------------

/* How many of each of Google's numbered groups the card with most of them has. */
class GoogleGroupCounts
{
public:
    void measure(const CardList &cards, qint64 from, qint64 to, const std::stop_token &stop)
    {
        GoogleCard card;
        for (qint64 i = from; i < to; ++i) {
            if (i % kCardsBetweenStopChecks == 0)
                throwIfStopRequested(stop);
            card.read(cards.field(i, kRecordColumn), nullptr);
            for (int group = 0; group < kGoogleGroupCount; ++group)
                most[size_t(group)] = std::max(most[size_t(group)], qsizetype(card.entries(group).size()));
        }
    }

    void merge(const GoogleGroupCounts &other)
    {
        for (size_t group = 0; group < most.size(); ++group)
            most[group] = std::max(most[group], other.most[group]);
    }

    std::array<qsizetype, kGoogleGroupCount> most{};
};

/*
 * Google's header set for groups numbered as counts says, with the columns' names: a fixed
 * column is group -1.
 */
std::vector<GroupColumn> googleColumns(const GoogleGroupCounts &counts, QStringList &names)
{
    std::vector<GroupColumn> columns;
    for (int column = 0; column < kGoogleFixedCount; ++column) {
        columns.push_back({-1, 0, column});
        names.append(QString::fromLatin1(kGoogleFixedColumns[column]));
    }
    for (int group = 0; group < kGoogleGroupCount; ++group) {
        const GoogleGroup &groupNames = kGoogleGroups[group];
        for (int number = 0; number < counts.most[size_t(group)]; ++number) {
            for (size_t part = 0; part < groupNames.columns.size(); ++part) {
                columns.push_back({group, number, int(part)});
                names.append(QStringLiteral("%1 %2 - %3")
                                 .arg(QLatin1String(groupNames.name))
                                 .arg(number + 1)
                                 .arg(QLatin1String(groupNames.columns[part])));
            }
        }
    }
    return columns;
}

/* A card's fields in Google's header set. */
class GoogleSource
{
public:
    explicit GoogleSource(const std::vector<GroupColumn> &columns)
        : m_columns(columns)
    {
    }

    void read(QByteArrayView record, LeftOutValues *leftOut) { m_card.read(record, leftOut); }
    qsizetype fieldCount() const { return qsizetype(m_columns.size()); }

    QByteArrayView field(qsizetype i)
    {
        const GroupColumn &column = m_columns[size_t(i)];
        if (column.group < 0)
            return m_card.fixed(column.part);
        const std::vector<GoogleCard::Entry> &entries = m_card.entries(column.group);
        return size_t(column.number) < entries.size() ? entries[size_t(column.number)][size_t(column.part)]
                                                      : QByteArrayView();
    }

private:
    const std::vector<GroupColumn> &m_columns;
    GoogleCard m_card;
};

/* A card's fields in Outlook's header set. */
class OutlookSource
{
public:
    void read(QByteArrayView record, LeftOutValues *leftOut) { m_card.read(record, leftOut); }
    static qsizetype fieldCount() { return kOutlookColumnCount; }
    QByteArrayView field(qsizetype i) const { return m_card.field(int(i)); }

private:
    OutlookCard m_card;
};

// ---------------------------------------------------------------------------------------------

/* Measures the cards, on two threads (half of the cards each) when there are many. */
template<typename Measure>
Measure measureCards(const CardList &cards, const std::stop_token &stop)
{
    const qint64 count = cards.size();
    const qint64 half = count >= kCardsWorthASecondThread ? count / 2 : count;
    Measure later;
    std::optional<HelperThread> helper;
    if (half < count)
        helper.emplace([&] { later.measure(cards, half, count, stop); });
    Measure measured;
    measured.measure(cards, 0, half, stop);
    if (helper) {
        helper->join();
        measured.merge(later);
    }
    return measured;
}

/* What one thread makes of its cards: their rows (distinct ones kept) and text blocks. */
template<typename Source>
class RowMaker
{
public:
    RowMaker(Source source, const RowBytes &shape, TableParts parts)
        : m_source(std::move(source))
        , m_shape(shape)
        , m_wantRows(int(parts) & int(TableParts::Rows))
        , m_wantTxt(int(parts) & int(TableParts::TxtLines))
    {
    }

    /* Reads a card's record; the row goes to keep (row, its guarded fields), its text block to txtLines. */
    template<typename Keep>
    void make(QByteArrayView record, LeftOutValues *leftOut, TextLines &txtLines, const Keep &keep)
    {
        m_source.read(record, leftOut);
        const auto fieldAt = [this](qsizetype i) { return m_source.field(i); };
        if (m_wantRows) {
            const int guarded = writeRow(m_row, m_source.fieldCount(), fieldAt, m_shape);
            keep(m_row, guarded);
        }
        if (m_wantTxt)
            appendTextBlock(txtLines, m_source.fieldCount(), fieldAt, m_scratch);
    }

    bool wantsRows() const { return m_wantRows; }

private:
    Source m_source;
    const RowBytes &m_shape;
    bool m_wantRows;
    bool m_wantTxt;
    QByteArray m_row;
    QByteArray m_scratch;
};

/*
 * Makes the table's rows and text blocks from the cards, in the cards' order, the first of
 * identical rows kept. On many cards a second thread makes those of the later half while this
 * one makes the earlier half, and drops then the later rows that repeat earlier ones; each
 * thread gives back the memory of the cards it has passed as it goes.
 */
template<typename Source>
void makeRows(CardList &cards, ExportTable &table, const Source &source, const RowFormat &format, TableParts parts,
              const CardProgress &progress, const std::stop_token &stop, LeftOutValues *leftOut)
{
    const RowBytes shape(format);
    RowMaker<Source> earlier(source, shape, parts);
    RowMaker<Source> laterMaker(source, shape, parts);
    const qint64 count = cards.size();
    const qint64 half = count >= kCardsWorthASecondThread ? count / 2 : count;

    LaterRows later;
    TextLines laterTxt;
    LeftOutValues laterLeftOut;
    std::optional<HelperThread> helper;
    if (half < count) {
        helper.emplace([&] {
            DistinctRows distinct(later.rows, laterMaker.wantsRows() ? count - half : 0);
            for (qint64 i = half; i < count; ++i) {
                if (i % kCardsBetweenStopChecks == 0) {
                    throwIfStopRequested(stop);
                    cards.releaseCards(half, i);
                }
                laterMaker.make(cards.field(i, kRecordColumn), &laterLeftOut, laterTxt,
                                [&](QByteArray &row, int guarded) { later.add(distinct, row, guarded); });
            }
        });
    }

    DistinctRows distinct(table.rows, earlier.wantsRows() ? half : 0);
    for (qint64 i = 0; i < count; ++i) {
        if (i % kCardsBetweenStopChecks == 0) {
            throwIfStopRequested(stop);
            cards.releaseCards(0, std::min(i, half));
        }
        if (progress)
            progress(i + 1, count);
        if (i == half && helper) {
            helper->join();
            cards.clear(); // every row is made: the cards' memory goes before the rows grow
            later.removeRepeatsOf(distinct, stop);
            table.rows.appendLines(std::exchange(later.rows, TextLines()));
            table.guardedFields += later.guardedFields;
            table.txtLines.appendLines(std::exchange(laterTxt, TextLines()));
            if (leftOut)
                *leftOut += laterLeftOut;
        }
        if (i < half) {
            earlier.make(cards.field(i, kRecordColumn), leftOut, table.txtLines, [&](QByteArray &row, int guarded) {
                if (distinct.add(row, DistinctRows::hashOf(row)))
                    table.guardedFields += guarded;
            });
        }
    }
}

/* The kinds in the order in which the left-out sentence names them. */
constexpr PropertyKind kLeftOutOrder[] = {
    PropertyKind::Phone,
    PropertyKind::Email,
    PropertyKind::Address,
    PropertyKind::Website,
    PropertyKind::Note,
    PropertyKind::JobTitle,
    PropertyKind::Role,
    PropertyKind::Birthday,
    PropertyKind::Anniversary,
    PropertyKind::Nickname,
    PropertyKind::Categories,
    PropertyKind::Messaging,
    PropertyKind::Related,
    PropertyKind::Gender,
    PropertyKind::Photo,
    PropertyKind::StructuredName,
    PropertyKind::Organization,
    PropertyKind::PhoneticFirstName,
    PropertyKind::PhoneticMiddleName,
    PropertyKind::PhoneticLastName,
    PropertyKind::FormattedName,
    PropertyKind::Revision,
};
static_assert(std::size(kLeftOutOrder) == kPropertyKindCount);

/*
 * The name of a kind in the left-out sentence. beyondFifteen: the values are those that the
 * fifteen columns have no room for, where they hold the first few of the kind.
 */
QString leftOutKindName(PropertyKind kind, bool beyondFifteen)
{
    switch (kind) {
    case PropertyKind::Phone:
        return beyondFifteen ? translate(QStringLiteral("phones beyond the third"))
                             : translate(QStringLiteral("phones"));
    case PropertyKind::Email:
        return beyondFifteen ? translate(QStringLiteral("e-mail addresses beyond the fifth"))
                             : translate(QStringLiteral("e-mail addresses"));
    case PropertyKind::Address:
        return beyondFifteen ? translate(QStringLiteral("addresses beyond the first"))
                             : translate(QStringLiteral("addresses"));
    case PropertyKind::Website:
        return beyondFifteen ? translate(QStringLiteral("web pages beyond the first"))
                             : translate(QStringLiteral("web pages"));
    case PropertyKind::Note:
        return beyondFifteen ? translate(QStringLiteral("notes beyond the first")) : translate(QStringLiteral("notes"));
    case PropertyKind::JobTitle:
        return translate(QStringLiteral("job titles"));
    case PropertyKind::Role:
        return translate(QStringLiteral("roles"));
    case PropertyKind::Birthday:
        return translate(QStringLiteral("birthdays"));
    case PropertyKind::Anniversary:
        return translate(QStringLiteral("anniversaries"));
    case PropertyKind::Nickname:
        return translate(QStringLiteral("nicknames"));
    case PropertyKind::Categories:
        return translate(QStringLiteral("categories"));
    case PropertyKind::Messaging:
        return translate(QStringLiteral("messaging handles"));
    case PropertyKind::Related:
        return translate(QStringLiteral("related names"));
    case PropertyKind::Gender:
        return translate(QStringLiteral("genders"));
    case PropertyKind::Photo:
        return translate(QStringLiteral("photo addresses"));
    case PropertyKind::StructuredName:
    case PropertyKind::FormattedName:
        return translate(QStringLiteral("further names"));
    case PropertyKind::Organization:
        return translate(QStringLiteral("further organizations"));
    case PropertyKind::PhoneticFirstName:
    case PropertyKind::PhoneticMiddleName:
    case PropertyKind::PhoneticLastName:
        return translate(QStringLiteral("phonetic names"));
    case PropertyKind::Revision:
        return translate(QStringLiteral("revision dates"));
    }
    return {};
}

} // namespace

bool writesAllFields(ColumnModel columns, ExportType fileType, CsvFlavor flavor)
{
    return columns == ColumnModel::AllFields && !(fileType == ExportType::Csv && flavor == CsvFlavor::Yahoo);
}

RowFormat allFieldsRowFormat(ExportType fileType, CsvFlavor flavor, RowFormat format)
{
    if (layoutFor(fileType, flavor) != Layout::Plain)
        format.delimiter = u',';
    return format;
}

ExportTable buildAllFieldsTable(CardList cards, ExportType fileType, CsvFlavor flavor, RowFormat format,
                                TableParts parts, const CardProgress &progress, const std::stop_token &stop,
                                LeftOutValues *leftOut)
{
    ExportTable table;
    switch (layoutFor(fileType, flavor)) {
    case Layout::Plain: {
        const std::vector<GroupColumn> columns = measureCards<PlainPresence>(cards, stop).columns();
        for (const GroupColumn &column : columns)
            table.columnNames.append(plainColumnName(column.group, column.number + 1, column.part));
        makeRows(cards, table, PlainSource(columns), format, parts, progress, stop, leftOut);
        break;
    }
    case Layout::Google: {
        const std::vector<GroupColumn> columns
            = googleColumns(measureCards<GoogleGroupCounts>(cards, stop), table.columnNames);
        makeRows(cards, table, GoogleSource(columns), format, parts, progress, stop, leftOut);
        break;
    }
    case Layout::Outlook:
        for (const char *name : kOutlookColumns)
            table.columnNames.append(QString::fromLatin1(name));
        makeRows(cards, table, OutlookSource(), format, parts, progress, stop, leftOut);
        break;
    }
    // Every column the rows hold is named, so every present flag is set.
    table.presence.fill(true);
    return table;
}

QString leftOutValuesNote(const LeftOutValues &leftOut, bool allFieldsLayout)
{
    if (leftOut.total() == 0)
        return {};
    // Kinds of one name (the phonetic names) are counted together.
    std::vector<std::pair<QString, qint64>> kinds;
    for (const PropertyKind kind : kLeftOutOrder) {
        const qint64 count = leftOut.counts[size_t(kind)];
        if (count == 0)
            continue;
        const QString name = leftOutKindName(kind, !allFieldsLayout);
        const auto same
            = std::find_if(kinds.begin(), kinds.end(), [&name](const auto &other) { return other.first == name; });
        if (same != kinds.end())
            same->second += count;
        else
            kinds.emplace_back(name, count);
    }
    QStringList parts;
    const QLocale locale;
    for (const auto &[name, count] : kinds)
        parts.append(formatText(translate(QStringLiteral("%s: %s")), {name, locale.toString(count)}));
    const QString list = parts.join(QStringLiteral(", "));
    if (allFieldsLayout)
        return formatText(translate(QStringLiteral("Values this format has no column for were left out: %s. The "
                                                   "default CSV format or a workbook with All fields keeps them.")),
                          list);
    return formatText(translate(QStringLiteral("Values that have no column among the fifteen were left out: %s. "
                                               "All fields keeps them.")),
                      list);
}
