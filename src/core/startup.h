#pragma once

#include "core/inistore.h"
#include "engine/loading.h"

#include <QChar>
#include <QString>

/** The identity texts taken from the program's version data. */
struct AppIdentity {
    QString AppCompanyName; // CompanyName
    QString AppDescription; // ProductName, the product's display name
    QString AppVersion;     // major.minor of the fixed file version
    QString AppCaption;     // AppCompanyName + " - " + AppDescription
};

/*
 * Process-wide values, set once by RunStartup before any worker thread exists and only read
 * afterwards (LoadedVcards and the settings store are used on the user-interface thread).
 */
const AppIdentity &Identity();
QString DataDir(); // ends in "/"
IniStore &SettingsIni();
QChar ListSeparatorChar();
QString QuoteMark();
LoadedVcards &Loaded();

/** What start-up could not do as planned; the program runs all the same. */
struct StartupNotes {
    QString versionError;  // the program file's version data was unreadable: the built-in copy was used
    QString settingsError; // settings.ini could not be read and was replaced by an empty store
    QString languageError; // the chosen language file could not be read: texts stay English
};

/**
 * The start of the program: the process marker, the identity texts, the data folder, the
 * settings store, the list separator and quote mark, the empty loaded lines and the active
 * language. programFile is the running program's own file.
 */
StartupNotes RunStartup(const QString &programFile);
/** RunStartup with the user's interface language identifier given. */
StartupNotes RunStartup(const QString &programFile, quint16 langId);

/**
 * Whether a file can be created in folder: "chk.tmp" is created exclusively there and removed
 * at once. A "chk.tmp" that is already there makes the answer false and stays.
 */
bool IsFolderWritable(const QString &folder);

/**
 * The data folder: the program's folder when it is writable, otherwise
 * <per-user config folder>/<company>/<description>/, which is created level by level.
 */
QString SettleDataDir(const QString &programFolder, const QString &company, const QString &description);

/** "%d.%d" of the major and minor parts of a file version. */
QString FormatAppVersion(quint16 major, quint16 minor);

/** Stores the chosen language file in the settings and writes settings.ini; false with error on failure. */
bool SetLanguageFile(const QString &fileName, QString *error);
