#pragma once

#include "core/inistore.h"
#include "engine/exporttable.h"
#include "engine/loading.h"

#include <QChar>
#include <QString>

/** The identity texts taken from the program's version data. */
struct AppIdentity {
    QString appCompanyName; // companyName
    QString appDescription; // productName, the product's display name
    QString appVersion;     // major.minor of the fixed file version
    QString appCaption;     // appCompanyName + " - " + appDescription
};

/*
 * Process-wide values, set once by runStartup before any worker thread exists and only read
 * afterwards (LoadedVcards and the settings store are used on the user-interface thread).
 */
const AppIdentity &appIdentity();
QString dataDir(); // ends in "/"
IniStore &settingsIni();
QChar listSeparatorChar();
QChar quoteMark(); // the quotation mark around CSV fields
LoadedVcards &loadedCards();

/** What start-up could not do as planned; the program runs all the same. */
struct StartupNotes {
    QString versionError;  // the program file's version data was unreadable: the built-in copy was used
    QString settingsError; // settings.ini could not be read: the defaults hold, the file is left as it is
    QString languageError; // the chosen language file could not be read: texts stay English
    // Qt's catalogue for the language's locale is missing: Qt's dialogs and buttons stay English
    QString qtTranslationsError;
};

/**
 * The start of the program: the process marker, the identity texts, the data folder, the
 * settings store, the list separator and quote mark, the empty loaded lines, the active
 * language and Qt's own catalogue for it (see installQtTranslations). programFile is the
 * running program's own file.
 */
StartupNotes runStartup(const QString &programFile);
/** runStartup with the user's interface language identifier given. */
StartupNotes runStartup(const QString &programFile, quint16 langId);

/**
 * Whether a file can be created in folder: "chk.tmp" is created exclusively there and removed
 * at once. A "chk.tmp" that is already there makes the answer false and stays.
 */
bool isFolderWritable(const QString &folder);

/**
 * The data folder: the program's folder when it is writable, otherwise
 * <per-user config folder>/<company>/<description>/, which is created level by level.
 */
QString settleDataDir(const QString &programFolder, const QString &company, const QString &description);

/** "%d.%d" of the major and minor parts of a file version. */
QString formatAppVersion(quint16 major, quint16 minor);

/** Stores the chosen language file in the settings and writes settings.ini; false with error on failure. */
bool setLanguageFile(const QString &fileName, QString *error);

/**
 * The column model the settings hold: All fields when the key AllFields of [Settings] is "1",
 * the fifteen columns otherwise (also when the key is missing or holds anything else).
 */
ColumnModel storedColumnModel();
/**
 * Stores the column model in the settings (AllFields=1 or 0) and writes settings.ini; false with
 * error on failure, when the store in memory holds the new value all the same.
 */
bool setStoredColumnModel(ColumnModel columns, QString *error);
