#pragma once

#include <QLocale>
#include <QString>

/** The language-region name of a locale, such as "de-DE" or "en-US"; "xx" for the C locale or one that is unknown. */
QString localeNameFor(const QLocale &locale);

/** The name of the user's locale (QLocale::system()), as localeNameFor gives it. */
QString userLocaleName();
