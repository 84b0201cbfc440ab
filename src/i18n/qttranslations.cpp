#include "i18n/qttranslations.h"

#include "i18n/translate.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

namespace {

const QString kLocaleKey = QStringLiteral("INFO:Locale");

/* The catalogue installed now; it belongs to the application object and goes with it. */
struct InstalledCatalogue {
    QPointer<QTranslator> translator;
    QString locale;
};

InstalledCatalogue &installedCatalogue()
{
    static InstalledCatalogue installed;
    return installed;
}

void removeInstalled()
{
    InstalledCatalogue &installed = installedCatalogue();
    if (installed.translator) {
        QCoreApplication::removeTranslator(installed.translator);
        delete installed.translator;
    }
    installed.locale.clear();
}

} // namespace

QString activeLanguageLocale()
{
    const QStringList lines = languageLines();
    if (lines.isEmpty())
        return {};
    const QString locale = lookupInLines(kLocaleKey, lines).trimmed();
    // lookupInLines hands back the key itself when no line carries it.
    return locale == kLocaleKey ? QString() : locale;
}

QString qtTranslationsDir()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool installQtTranslations(QString *error)
{
    return installQtTranslationsFrom(activeLanguageLocale(), qtTranslationsDir(), error);
}

bool installQtTranslationsFrom(const QString &locale, const QString &folder, QString *error)
{
    removeInstalled();
    if (locale.isEmpty())
        return true;
    auto *translator = new QTranslator(QCoreApplication::instance());
    // "pt_BR" finds qtbase_pt_BR.qm, and would fall back to qtbase_pt.qm where only that exists.
    if (!translator->load(QLocale(locale), QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        delete translator;
        if (error)
            *error
                = QStringLiteral("Qt's translation for \"%1\" (qtbase_%1.qm) was not found in %2").arg(locale, folder);
        return false;
    }
    QCoreApplication::installTranslator(translator);
    InstalledCatalogue &installed = installedCatalogue();
    installed.translator = translator;
    installed.locale = locale;
    return true;
}

QString installedQtLocale()
{
    return installedCatalogue().locale;
}
