#pragma once

#include "engine/exporttable.h"
#include "text/textlines.h"
#include "text/workstop.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHashFunctions>
#include <QString>

#include <algorithm>
#include <stop_token>
#include <vector>

/*
 * The pieces that every table's delimited rows are made of: the row's characters, fields
 * enclosed in quote marks with a quote mark inside written twice (RFC 4180), and the table of
 * distinct rows.
 */

/** The characters that shape a row, as UTF-8. */
struct RowBytes {
    QByteArray delimiter;
    QByteArray quoteMark;
    bool guardFormulas = false;

    explicit RowBytes(RowFormat format)
        : delimiter(QString(format.delimiter).toUtf8())
        , quoteMark(QString(format.quoteMark).toUtf8())
        , guardFormulas(format.guardFormulas)
    {
    }

    /** The most bytes that a field of text takes in a row, with its quote marks and delimiter. */
    qsizetype fieldRoom(QByteArrayView text) const { return 2 * text.size() + 2 * quoteMark.size() + delimiter.size(); }
};

/* Whether text, after a leading "+" or "-", is a number or a phone number: digits, spaces and
 * "( ) . / -", with at most " ext. " and digits at its end. */
inline bool isNumberOrPhone(QByteArrayView text)
{
    const qsizetype extension = text.lastIndexOf(" ext. ");
    if (extension >= 0) {
        const QByteArrayView digits = text.sliced(extension + 6);
        if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        text = text.first(extension);
    }
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == ' ' || c == '(' || c == ')' || c == '.' || c == '/' || c == '-';
    });
}

/**
 * Whether a spreadsheet would read a field that starts so as a formula (CSV injection,
 * CWE-1236): it starts with "=", "@", a tab or a carriage return, or with "+" or "-" followed
 * by something other than a number or a phone number.
 */
inline bool startsFormula(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    switch (text.front()) {
    case '=':
    case '@':
    case '\t':
    case '\r':
        return true;
    case '+':
    case '-':
        return !isNumberOrPhone(text.sliced(1));
    default:
        return false;
    }
}

/**
 * Writes text to out enclosed in quote marks, a quote mark inside it written twice, then the
 * delimiter; returns the end of what it wrote. out has room for shape.fieldRoom(text). In
 * UTF-8 a character's bytes never occur inside another's, so the quote mark is found as bytes.
 * With shape.guardFormulas, a text that startsFormula gets an apostrophe before it, counted in
 * guarded.
 */
inline char *writeQuotedField(char *out, QByteArrayView text, const RowBytes &shape, int *guarded = nullptr)
{
    const QByteArrayView quote = shape.quoteMark;
    out = std::copy_n(quote.data(), quote.size(), out);
    if (shape.guardFormulas && startsFormula(text)) {
        *out++ = '\'';
        if (guarded)
            ++*guarded;
    }
    if (quote.isEmpty()) {
        out = std::copy_n(text.data(), text.size(), out);
    } else {
        for (qsizetype at = text.indexOf(quote); at >= 0; at = text.indexOf(quote)) {
            out = std::copy_n(text.data(), at + quote.size(), out);
            out = std::copy_n(quote.data(), quote.size(), out);
            text = text.sliced(at + quote.size());
        }
        out = std::copy_n(text.data(), text.size(), out); // an empty text may have no data at all
    }
    out = std::copy_n(quote.data(), quote.size(), out);
    return std::copy_n(shape.delimiter.constData(), shape.delimiter.size(), out);
}

/*
 * Keeps the first of identical rows (exact, case-sensitive), in the order they come, in an
 * open-addressing table of row numbers: 8 bytes a row, the rows' bytes stored once.
 */
class DistinctRows
{
public:
    DistinctRows(TextLines &rows, qint64 expected)
        : m_rows(rows)
    {
        size_t capacity = 16;
        while (capacity < size_t(expected) * 2)
            capacity *= 2;
        m_slots.assign(capacity, Slot{});
        m_mask = capacity - 1;
    }

    static size_t hashOf(QByteArrayView row) { return qHash(row); }

    /*
     * Appends the row unless an identical one is there; returns whether it was appended. A long
     * row is kept in row's own buffer, which row then leaves.
     */
    bool add(QByteArray &row, size_t hash)
    {
        Slot &slot = find(row, hash);
        if (slot.rowPlusOne != 0)
            return false;
        m_rows.appendUtf8Buffer(row);
        slot = Slot{quint32(m_rows.size()), tagOf(hash)};
        return true;
    }

    bool contains(QByteArrayView row, size_t hash) { return find(row, hash).rowPlusOne != 0; }

private:
    struct Slot {
        quint32 rowPlusOne = 0; // 0: free
        quint32 tag = 0;        // the hash's high bits, to skip most byte comparisons
    };

    static quint32 tagOf(size_t hash) { return quint32(quint64(hash) >> 32); }

    /* The slot of the identical row, or the free slot where the row would go. */
    Slot &find(QByteArrayView row, size_t hash)
    {
        const quint32 tag = tagOf(hash);
        for (size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            Slot &slot = m_slots[i];
            if (slot.rowPlusOne == 0 || (slot.tag == tag && m_rows.utf8At(slot.rowPlusOne - 1) == row))
                return slot;
        }
    }

    TextLines &m_rows;
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
};

/**
 * Writes a card's fields as a row into row's buffer: quoted, a quote mark inside written twice.
 * Returns how many fields got an apostrophe against formulas.
 */
template<typename FieldAt>
inline int writeRow(QByteArray &row, qsizetype fieldCount, const FieldAt &fieldAt, const RowBytes &shape)
{
    qsizetype most = 0;
    for (qsizetype i = 0; i < fieldCount; ++i)
        most += shape.fieldRoom(fieldAt(i));
    row.resize(most);
    char *out = row.data();
    int guarded = 0;
    for (qsizetype i = 0; i < fieldCount; ++i)
        out = writeQuotedField(out, fieldAt(i), shape, &guarded);
    row.truncate(out - row.constData());
    if (row.endsWith(shape.delimiter))
        row.chop(shape.delimiter.size());
    return guarded;
}

/** How many cards a loop builds between two looks at the stop request. */
inline constexpr qint64 kCardsBetweenStopChecks = 4096;

/** From how many cards on a table's rows are built on two threads, half of the cards each. */
inline constexpr qint64 kCardsWorthASecondThread = 20000;

/*
 * The distinct rows of the later cards, with their hashes, built on a second thread: each is
 * the first of its kind there, though it may still repeat a row of the earlier cards.
 */
struct LaterRows {
    TextLines rows;
    std::vector<size_t> hashes;
    std::vector<std::pair<qsizetype, int>> guards; // the rows with guarded fields, and how many
    qint64 guardedFields = 0;                      // those of the rows kept, after removeRepeatsOf

    /*
     * Keeps row (distinct keeps this list's rows) unless an identical one is there; guarded
     * is the number of its fields that got an apostrophe.
     */
    void add(DistinctRows &distinct, QByteArray &row, int guarded = 0)
    {
        const size_t hash = DistinctRows::hashOf(row);
        if (distinct.add(row, hash)) {
            hashes.push_back(hash);
            if (guarded > 0)
                guards.emplace_back(qsizetype(hashes.size()) - 1, guarded);
        }
    }

    /* Drops the rows that earlier holds as well. */
    void removeRepeatsOf(DistinctRows &earlier, const std::stop_token &stop)
    {
        std::vector<bool> repeated(size_t(rows.size()));
        for (qsizetype i = 0; i < rows.size(); ++i) {
            if (i % kCardsBetweenStopChecks == 0)
                throwIfStopRequested(stop);
            repeated[size_t(i)] = earlier.contains(rows.utf8At(i), hashes[size_t(i)]);
        }
        for (const auto &[row, guarded] : guards)
            guardedFields += repeated[size_t(row)] ? 0 : guarded;
        rows.removeLines(repeated);
    }
};
