#include "platform/uilanguage.h"

namespace {

struct LangIdEntry {
    QLocale::Language language;
    QLocale::Territory territory; // AnyTerritory: the language's main variant
    quint16 langId;
};

// The first entry of each language is its main variant.
constexpr LangIdEntry kLangIds[] = {
    {QLocale::English, QLocale::UnitedStates, 1033},
    {QLocale::English, QLocale::UnitedKingdom, 2057},
    {QLocale::English, QLocale::Australia, 3081},
    {QLocale::English, QLocale::Canada, 4105},
    {QLocale::English, QLocale::NewZealand, 5129},
    {QLocale::English, QLocale::Ireland, 6153},
    {QLocale::English, QLocale::SouthAfrica, 7177},
    {QLocale::English, QLocale::India, 16393},
    {QLocale::German, QLocale::Germany, 1031},
    {QLocale::German, QLocale::Switzerland, 2055},
    {QLocale::German, QLocale::Austria, 3079},
    {QLocale::German, QLocale::Luxembourg, 4103},
    {QLocale::German, QLocale::Liechtenstein, 5127},
    {QLocale::French, QLocale::France, 1036},
    {QLocale::French, QLocale::Belgium, 2060},
    {QLocale::French, QLocale::Canada, 3084},
    {QLocale::French, QLocale::Switzerland, 4108},
    {QLocale::French, QLocale::Luxembourg, 5132},
    {QLocale::Spanish, QLocale::Spain, 3082},
    {QLocale::Spanish, QLocale::Mexico, 2058},
    {QLocale::Spanish, QLocale::Argentina, 11274},
    {QLocale::Spanish, QLocale::Colombia, 9226},
    {QLocale::Spanish, QLocale::Chile, 13322},
    {QLocale::Italian, QLocale::Italy, 1040},
    {QLocale::Italian, QLocale::Switzerland, 2064},
    {QLocale::Portuguese, QLocale::Brazil, 1046},
    {QLocale::Portuguese, QLocale::Portugal, 2070},
    {QLocale::Dutch, QLocale::Netherlands, 1043},
    {QLocale::Dutch, QLocale::Belgium, 2067},
    {QLocale::Turkish, QLocale::Turkey, 1055},
    {QLocale::Russian, QLocale::Russia, 1049},
    {QLocale::Ukrainian, QLocale::Ukraine, 1058},
    {QLocale::Belarusian, QLocale::Belarus, 1059},
    {QLocale::Bulgarian, QLocale::Bulgaria, 1026},
    {QLocale::Serbian, QLocale::Serbia, 10266},
    {QLocale::Macedonian, QLocale::Macedonia, 1071},
    {QLocale::Kazakh, QLocale::Kazakhstan, 1087},
    {QLocale::Polish, QLocale::Poland, 1045},
    {QLocale::Czech, QLocale::CzechRepublic, 1029},
    {QLocale::Slovak, QLocale::Slovakia, 1051},
    {QLocale::Hungarian, QLocale::Hungary, 1038},
    {QLocale::Slovenian, QLocale::Slovenia, 1060},
    {QLocale::Croatian, QLocale::Croatia, 1050},
    {QLocale::Romanian, QLocale::Romania, 1048},
    {QLocale::Bosnian, QLocale::BosniaAndHerzegowina, 5146},
    {QLocale::Albanian, QLocale::Albania, 1052},
    {QLocale::Greek, QLocale::Greece, 1032},
    {QLocale::Hebrew, QLocale::Israel, 1037},
    {QLocale::Arabic, QLocale::SaudiArabia, 1025},
    {QLocale::Arabic, QLocale::Egypt, 3073},
    {QLocale::Persian, QLocale::Iran, 1065},
    {QLocale::Urdu, QLocale::Pakistan, 1056},
    {QLocale::Estonian, QLocale::Estonia, 1061},
    {QLocale::Latvian, QLocale::Latvia, 1062},
    {QLocale::Lithuanian, QLocale::Lithuania, 1063},
    {QLocale::Vietnamese, QLocale::Vietnam, 1066},
    {QLocale::Thai, QLocale::Thailand, 1054},
    {QLocale::Japanese, QLocale::Japan, 1041},
    {QLocale::Korean, QLocale::SouthKorea, 1042},
    {QLocale::Chinese, QLocale::China, 2052},
    {QLocale::Chinese, QLocale::Taiwan, 1028},
    {QLocale::Chinese, QLocale::HongKong, 3076},
    {QLocale::Chinese, QLocale::Singapore, 4100},
    {QLocale::Swedish, QLocale::Sweden, 1053},
    {QLocale::Swedish, QLocale::Finland, 2077},
    {QLocale::Danish, QLocale::Denmark, 1030},
    {QLocale::NorwegianBokmal, QLocale::Norway, 1044},
    {QLocale::NorwegianNynorsk, QLocale::Norway, 2068},
    {QLocale::Finnish, QLocale::Finland, 1035},
    {QLocale::Icelandic, QLocale::Iceland, 1039},
    {QLocale::Indonesian, QLocale::Indonesia, 1057},
    {QLocale::Malay, QLocale::Malaysia, 1086},
    {QLocale::Hindi, QLocale::India, 1081},
    {QLocale::Catalan, QLocale::Spain, 1027},
    {QLocale::Basque, QLocale::Spain, 1069},
    {QLocale::Galician, QLocale::Spain, 1110},
    {QLocale::Afrikaans, QLocale::SouthAfrica, 1078},
    {QLocale::Georgian, QLocale::Georgia, 1079},
    {QLocale::Armenian, QLocale::Armenia, 1067},
    {QLocale::Azerbaijani, QLocale::Azerbaijan, 1068},
};

} // namespace

quint16 langIdForLocale(const QLocale &locale)
{
    const LangIdEntry *mainVariant = nullptr;
    for (const LangIdEntry &entry : kLangIds) {
        if (entry.language != locale.language())
            continue;
        if (entry.territory == locale.territory())
            return entry.langId;
        if (!mainVariant)
            mainVariant = &entry;
    }
    return mainVariant ? mainVariant->langId : 1033;
}

quint16 userDefaultUiLanguage()
{
    return langIdForLocale(QLocale::system());
}
