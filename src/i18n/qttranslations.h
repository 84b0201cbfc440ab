#pragma once

#include <QString>

/*
 * Qt's own texts (the standard buttons, the file dialogs and their questions) in the language
 * of the active language file. Each language file names its locale in an information entry,
 * "{INFO:Locale}de" or "{INFO:Locale}pt_BR"; Qt's catalogue for that locale (qtbase_de.qm,
 * qtbase_pt_BR.qm) comes from Qt's translations folder. Used on the user-interface thread at
 * start-up, after the language file was chosen.
 */

/** The locale that the active language file names, or an empty text: English, or a file that names none. */
QString activeLanguageLocale();

/** Qt's translations folder, where Debian's qt6-translations-l10n puts the catalogues. */
QString qtTranslationsDir();

/**
 * Installs Qt's catalogue for the active language file's locale from qtTranslationsDir() in
 * place of the one installed before; without a locale none is installed and Qt's texts are
 * English. Returns false with error set when the locale has no catalogue there.
 */
bool installQtTranslations(QString *error = nullptr);

/** installQtTranslations with the locale and the catalogue folder given. */
bool installQtTranslationsFrom(const QString &locale, const QString &folder, QString *error = nullptr);

/** The locale of the catalogue installed now ("de", "pt_BR"), or an empty text when none is. */
QString installedQtLocale();
