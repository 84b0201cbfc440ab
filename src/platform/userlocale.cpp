#include "platform/userlocale.h"

QString localeNameFor(const QLocale &locale)
{
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return QStringLiteral("xx");
    // name() always carries the territory ("de_DE"); bcp47Name() would drop a likely one.
    QString name = locale.name();
    return name.replace(u'_', u'-');
}

QString userLocaleName()
{
    return localeNameFor(QLocale::system());
}
