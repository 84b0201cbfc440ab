#include "platform/ansicodepage.h"

int ansiCodePageForLocale(const QLocale &locale)
{
    switch (locale.language()) {
    case QLocale::Turkish:
        return 1254;
    case QLocale::Russian:
    case QLocale::Ukrainian:
    case QLocale::Belarusian:
    case QLocale::Bulgarian:
    case QLocale::Serbian:
    case QLocale::Macedonian:
    case QLocale::Kazakh:
        return 1251;
    case QLocale::Polish:
    case QLocale::Czech:
    case QLocale::Slovak:
    case QLocale::Hungarian:
    case QLocale::Slovenian:
    case QLocale::Croatian:
    case QLocale::Romanian:
    case QLocale::Bosnian:
    case QLocale::Albanian:
        return 1250;
    case QLocale::Greek:
        return 1253;
    case QLocale::Hebrew:
        return 1255;
    case QLocale::Arabic:
    case QLocale::Persian:
    case QLocale::Urdu:
        return 1256;
    case QLocale::Estonian:
    case QLocale::Latvian:
    case QLocale::Lithuanian:
        return 1257;
    case QLocale::Vietnamese:
        return 1258;
    case QLocale::Thai:
        return 874;
    default:
        return 1252;
    }
}

int systemAnsiCodePage()
{
    static const int codePage = ansiCodePageForLocale(QLocale::system());
    return codePage;
}
