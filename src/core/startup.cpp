#include "core/startup.h"

#include "platform/appdatafolder.h"
#include "platform/exclusivefile.h"
#include "platform/listseparator.h"
#include "platform/processmarker.h"
#include "platform/uilanguage.h"
#include "i18n/languagechoice.h"
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

ProcessValues &Values()
{
    static ProcessValues values;
    return values;
}

const QString kSettingsSection = QStringLiteral("Settings");
const QString kLanguageFileKey = QStringLiteral("LanguageFile");

QString WithSlash(const QString &folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

/* The identity texts from the program file, or from the program's own copy when that fails. */
AppIdentity ReadIdentity(const QString &programFile, QString &error)
{
    TEXEVersionData data;
    FixedFileVersion version;
    if (!GetEXEVersionData(programFile, data, &error) || !GetFixedFileVersion(programFile, version, &error))
        OwnVersionData(data, version);
    AppIdentity identity;
    identity.AppCompanyName = data.CompanyName;
    identity.AppDescription = data.ProductName;
    identity.AppVersion = FormatAppVersion(version.major, version.minor);
    identity.AppCaption = identity.AppCompanyName + QStringLiteral(" - ") + identity.AppDescription;
    return identity;
}

/* Opens settings.ini; an unreadable file is removed and the store starts empty. */
void OpenSettings(IniStore &settings, const QString &path, QString &error)
{
    if (settings.load(path, &error))
        return;
    QFile::remove(path);
    QString secondError;
    if (!settings.load(path, &secondError))
        settings = IniStore(); // still unreadable (and not removable): an empty store in memory
}

} // namespace

const AppIdentity &Identity()
{
    return Values().identity;
}

QString DataDir()
{
    return Values().dataDir;
}

IniStore &SettingsIni()
{
    return Values().settings;
}

QChar ListSeparatorChar()
{
    return Values().listSeparator;
}

QString QuoteMark()
{
    return QStringLiteral("\"");
}

LoadedVcards &Loaded()
{
    return Values().loaded;
}

bool IsFolderWritable(const QString &folder)
{
    return CreateAndRemoveExclusiveFile(WithSlash(folder) + QStringLiteral("chk.tmp"));
}

QString SettleDataDir(const QString &programFolder, const QString &company, const QString &description)
{
    if (IsFolderWritable(programFolder))
        return WithSlash(programFolder);
    const QString appData = PerUserAppDataFolder();
    // Each level is made on its own; "already there" and other failures are left for the
    // settings store to meet.
    QDir().mkdir(appData + u'/' + company);
    QDir().mkdir(appData + u'/' + company + u'/' + description);
    return appData + u'/' + company + u'/' + description + u'/';
}

QString FormatAppVersion(quint16 major, quint16 minor)
{
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

StartupNotes RunStartup(const QString &programFile)
{
    return RunStartup(programFile, UserDefaultUILanguage());
}

StartupNotes RunStartup(const QString &programFile, quint16 langId)
{
    StartupNotes notes;
    CreateProcessMarker("ORVANTA_Tessaly");
    ProcessValues &values = Values();
    values.identity = ReadIdentity(programFile, notes.versionError);
    const QString programFolder = QFileInfo(programFile).absolutePath();
    values.dataDir = SettleDataDir(programFolder, values.identity.AppCompanyName,
                                   values.identity.AppDescription);
    OpenSettings(values.settings, values.dataDir + QStringLiteral("settings.ini"), notes.settingsError);
    values.loaded.ClearNow();
    values.listSeparator = SystemListSeparator();
    LoadLanguageFrom(values.settings.value(kSettingsSection, kLanguageFileKey), programFolder, langId,
                     &notes.languageError);
    return notes;
}

bool SetLanguageFile(const QString &fileName, QString *error)
{
    IniStore &settings = SettingsIni();
    settings.setValue(kSettingsSection, kLanguageFileKey, fileName);
    return settings.save(DataDir() + QStringLiteral("settings.ini"), error);
}
