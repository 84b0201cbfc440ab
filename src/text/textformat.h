#pragma once

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

/**
 * Reads text as a decimal int: an optional sign ("-", and "+" when plusAllowed) followed by one
 * or more ASCII digits and nothing else, within the range of int. Anything else gives nothing.
 */
std::optional<int> parseDecimalInt(QStringView text, bool plusAllowed = false);
