#pragma once

#include <QChar>
#include <QLocale>

/**
 * The regional list separator of a locale: ";" where decimals are written with a comma
 * (so that a list of numbers stays readable), "," everywhere else.
 */
QChar listSeparatorForLocale(const QLocale &locale);

/** The list separator of the user's locale (QLocale::system()). */
QChar systemListSeparator();
