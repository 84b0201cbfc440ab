#include "core/startup.h"

#include "i18n/languagechoice.h"
#include "i18n/qttranslations.h"
#include "i18n/translate.h"
#include "platform/appdatafolder.h"
#include "platform/exclusivefile.h"
#include "platform/listseparator.h"
#include "platform/processmarker.h"
#include "platform/uilanguage.h"
#include "text/textformat.h"
#include "versioninfo/versioninfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

struct ProcessValues {
    AppIdentity identity;
    QString dataDir;
    IniStore settings;
    QChar listSeparator = u',';
    LoadedVcards loaded;
};

ProcessValues &processValues()
{
    static ProcessValues values;
    return values;
}

const QString kSettingsSection = QStringLiteral("Settings");
const QString kLanguageFileKey = QStringLiteral("LanguageFile");
const QString kAllFieldsKey = QStringLiteral("AllFields");

QString withSlash(const QString &folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

/* The identity texts from the program file, or from the program's own copy when that fails. */
AppIdentity readIdentity(const QString &programFile, QString &error)
{
    ExeVersionData data;
    FixedFileVersion version;
    if (!readExeVersionData(programFile, data, &error) || !readFixedFileVersion(programFile, version, &error))
        ownVersionData(data, version);
    AppIdentity identity;
    identity.appCompanyName = data.companyName;
    identity.appDescription = data.productName;
    identity.appVersion = formatAppVersion(version.major, version.minor);
    identity.appCaption = identity.appCompanyName + QStringLiteral(" - ") + identity.appDescription;
    return identity;
}

/*
 * Opens settings.ini. An unreadable file stays as it is, for the user to mend or remove: the
 * store starts empty, and the file is written again only when the user changes a setting.
 */
bool openSettings(IniStore &settings, const QString &path, QString &error)
{
    if (settings.load(path, &error))
        return true;
    settings = IniStore();
    return false;
}

} // namespace

const AppIdentity &appIdentity()
{
    return processValues().identity;
}

QString dataDir()
{
    return processValues().dataDir;
}

IniStore &settingsIni()
{
    return processValues().settings;
}

QChar listSeparatorChar()
{
    return processValues().listSeparator;
}

QChar quoteMark()
{
    return u'"';
}

LoadedVcards &loadedCards()
{
    return processValues().loaded;
}

bool isFolderWritable(const QString &folder)
{
    return createAndRemoveExclusiveFile(withSlash(folder) + QStringLiteral("chk.tmp"));
}

QString settleDataDir(const QString &programFolder, const QString &company, const QString &description)
{
    if (isFolderWritable(programFolder))
        return withSlash(programFolder);
    const QString appData = perUserAppDataFolder();
    // On a new account even the configuration folder may be missing: the whole path is made at
    // once, and a failure is left for the settings store to meet.
    QDir().mkpath(appData + u'/' + company + u'/' + description);
    return appData + u'/' + company + u'/' + description + u'/';
}

QString formatAppVersion(quint16 major, quint16 minor)
{
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

StartupNotes runStartup(const QString &programFile)
{
    return runStartup(programFile, userDefaultUiLanguage());
}

StartupNotes runStartup(const QString &programFile, quint16 langId)
{
    StartupNotes notes;
    createProcessMarker("ORVANTA_Tessaly");
    ProcessValues &values = processValues();
    values.identity = readIdentity(programFile, notes.versionError);
    const QString programFolder = QFileInfo(programFile).absolutePath();
    values.dataDir = settleDataDir(programFolder, values.identity.appCompanyName, values.identity.appDescription);
    const QString settingsPath = values.dataDir + QStringLiteral("settings.ini");
    QString settingsReason;
    const bool settingsRead = openSettings(values.settings, settingsPath, settingsReason);
    values.loaded.clearLoaded();
    values.listSeparator = systemListSeparator();
    loadLanguageFrom(values.settings.value(kSettingsSection, kLanguageFileKey), programFolder, langId,
                     &notes.languageError);
    // Said once the window's language is known, so that it is said in that language.
    if (!settingsRead) {
        notes.settingsError = formatText(translate(QStringLiteral("The settings file \"%s\" could not be read. The "
                                                                  "program starts with the default settings and "
                                                                  "leaves the file as it is.")),
                                         settingsPath)
                              + u' ' + settingsReason;
    }
    // Qt's dialogs and buttons speak the language of the window.
    installQtTranslations(&notes.qtTranslationsError);
    return notes;
}

bool setLanguageFile(const QString &fileName, QString *error)
{
    IniStore &settings = settingsIni();
    settings.setValue(kSettingsSection, kLanguageFileKey, fileName);
    return settings.save(dataDir() + QStringLiteral("settings.ini"), error);
}

ColumnModel storedColumnModel()
{
    return settingsIni().value(kSettingsSection, kAllFieldsKey) == u"1" ? ColumnModel::AllFields : ColumnModel::Fifteen;
}

bool setStoredColumnModel(ColumnModel columns, QString *error)
{
    IniStore &settings = settingsIni();
    settings.setValue(kSettingsSection, kAllFieldsKey,
                      columns == ColumnModel::AllFields ? QStringLiteral("1") : QStringLiteral("0"));
    return settings.save(dataDir() + QStringLiteral("settings.ini"), error);
}
