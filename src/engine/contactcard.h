#pragma once

#include <QString>
#include <QStringView>

#include <array>

/** The fifteen fields of a contact, in the fixed order that every export keeps. */
enum class ContactColumn {
    FormattedName,
    StructuredName,
    Phone1,
    Phone2,
    Phone3,
    Organization,
    Address,
    Revision,
    Email1,
    Email2,
    Email3,
    Email4,
    Email5,
    Url,
    Note,
};

inline constexpr int kContactColumnCount = 15;

/** The fifteen field texts of one card, as the scanner collects them. */
using ContactFields = std::array<QString, kContactColumnCount>;

/**
 * One contact: fifteen text fields in column order, kept in one string so that a million
 * cards cost little more than their text.
 */
class ContactCard
{
public:
    ContactCard() = default;
    explicit ContactCard(const ContactFields &fields)
    {
        qsizetype total = 0;
        for (const QString &field : fields)
            total += field.size();
        m_text.reserve(total);
        for (int i = 0; i < kContactColumnCount; ++i) {
            m_text += fields[size_t(i)];
            m_ends[size_t(i)] = m_text.size();
        }
    }

    QStringView field(ContactColumn column) const { return field(int(column)); }
    QStringView field(int index) const
    {
        const qsizetype start = index == 0 ? 0 : m_ends[size_t(index - 1)];
        return QStringView(m_text).sliced(start, m_ends[size_t(index)] - start);
    }

    ContactFields fields() const
    {
        ContactFields result;
        for (int i = 0; i < kContactColumnCount; ++i)
            result[size_t(i)] = field(i).toString();
        return result;
    }

private:
    QString m_text;
    std::array<qsizetype, kContactColumnCount> m_ends{};
};
