#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

/**
 * Substitutes values for the "%s" markers of a (translated) text, left to right: each "%s"
 * takes the next value, inserted text is never scanned again. Other "%" signs stay as they
 * are, markers without a value stay, and values without a marker are dropped.
 */
QString formatText(const QString &text, const QStringList &values);
QString formatText(const QString &text, const QString &value);

/** Removes leading and trailing characters up to U+0020. */
QString trimControlAndBlank(const QString &value);

/** Whether a byte of UTF-8 is a character up to U+0020 (never part of another character). */
inline bool isControlOrBlank(char byte)
{
    return static_cast<unsigned char>(byte) <= 0x20;
}

/** The same for UTF-8: the part of utf8 without leading and trailing characters up to U+0020. */
QByteArrayView trimControlAndBlank(QByteArrayView utf8);

/**
 * Reads text as a decimal int: an optional sign ("-", and "+" when plusAllowed) followed by one
 * or more ASCII digits and nothing else, within the range of int. Anything else gives nothing.
 */
std::optional<int> parseDecimalInt(QStringView text, bool plusAllowed = false);
