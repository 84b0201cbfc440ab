#include "platform/listseparator.h"

QChar ListSeparatorForLocale(const QLocale &locale)
{
    const QString decimal = locale.decimalPoint();
    return decimal == QLatin1String(",") ? QChar(u';') : QChar(u',');
}

QChar SystemListSeparator()
{
    return ListSeparatorForLocale(QLocale::system());
}
