#pragma once

#include <QLocale>

/**
 * The Windows language identifier (LANGID) that matches a locale, such as 1033 for en_US,
 * 1031 for de_DE or 1055 for tr_TR: the exact language and territory when known, else the
 * language's main variant, else 1033.
 */
quint16 langIdForLocale(const QLocale &locale);

/** The language identifier of the user's locale (QLocale::system()). */
quint16 userDefaultUiLanguage();
