#pragma once

#include <QString>
#include <QStringList>

/** The "Languages" folder beside the program file, without a trailing separator. */
QString languagesDir();

/**
 * The language files of languagesDir() (names matching "*lang.txt" of files that lie in that
 * folder, also once links are followed), as listed.
 */
QStringList languageFiles();

/**
 * Chooses and loads the active language once at start-up.
 *
 * A configured file name (the user's choice) is used as it is; a blank one lets
 * LanguageCodes.csv pick the file for the user's interface language identifier, matched
 * against the listed files without regard to ASCII letter case. Only a file of the Languages
 * folder is read: a name with a folder part, "." or "..", or a link to a file elsewhere counts
 * as a missing file. When the chosen file does not exist, no language is active. When it
 * exists but cannot be read, is not valid UTF-8 or is too large for the memory, the language
 * stays English, false is returned and error holds the reason; a FIFO, device or folder of
 * that name is never opened, and is reported in the same way.
 */
bool loadLanguage(const QString &configured, QString *error = nullptr);

/** loadLanguage with the program folder and the language identifier given. */
bool loadLanguageFrom(const QString &configured, const QString &programFolder, quint16 langId,
                      QString *error = nullptr);

/**
 * The lines of the language file at path, read as UTF-8. False with error when the file cannot
 * be read, is not valid UTF-8 or is too large for the memory; lines are then empty.
 */
bool readLanguageLines(const QString &path, QStringList &lines, QString *error = nullptr);
