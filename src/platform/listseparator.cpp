#include "platform/listseparator.h"

QChar listSeparatorForLocale(const QLocale &locale)
{
    const QString decimal = locale.decimalPoint();
    return decimal == QLatin1String(",") ? QChar(u';') : QChar(u',');
}

QChar systemListSeparator()
{
    return listSeparatorForLocale(QLocale::system());
}
