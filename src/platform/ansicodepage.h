#pragma once

#include <QLocale>

/**
 * The single-byte Windows code page that stands for the "ANSI" encoding.
 *
 * Chosen from the locale's language the way Windows picks its system code page:
 * Turkish 1254, Cyrillic languages 1251, Central European 1250, Greek 1253, Hebrew 1255,
 * Arabic script 1256, Baltic 1257, Vietnamese 1258, Thai 874, and 1252 for every other locale.
 */
int ansiCodePageForLocale(const QLocale &locale);

/** The code page for the user's locale (QLocale::system()), fixed at the first call. */
int systemAnsiCodePage();
