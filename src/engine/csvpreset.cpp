#include "engine/csvpreset.h"

std::optional<CsvPreset> csvPresetNamed(QStringView name)
{
    static const std::pair<QStringView, CsvPreset> names[] = {
        {u"default", CsvPreset::Default}, {u"excel", CsvPreset::Excel}, {u"google", CsvPreset::Google},
        {u"outlook", CsvPreset::Outlook}, {u"yahoo", CsvPreset::Yahoo},
    };
    for (const auto &[text, preset] : names) {
        if (name.compare(text, Qt::CaseInsensitive) == 0)
            return preset;
    }
    return std::nullopt;
}

CsvFlavor applyCsvPreset(CsvPreset preset, ExportOptions &options, ColumnModel columns)
{
    switch (preset) {
    case CsvPreset::Default:
        return CsvFlavor::Plain;
    case CsvPreset::Excel:
        options.encoding = TextEncoding::Utf16;
        return CsvFlavor::Plain;
    case CsvPreset::Outlook:
        options.encoding = TextEncoding::Ansi;
        options.headers = true;
        return CsvFlavor::Outlook;
    case CsvPreset::Google:
    case CsvPreset::Yahoo:
        if (options.encoding == TextEncoding::Utf16
            || (preset == CsvPreset::Google && columns == ColumnModel::AllFields))
            options.encoding = TextEncoding::Utf8;
        options.headers = true;
        return preset == CsvPreset::Google ? CsvFlavor::Google : CsvFlavor::Yahoo;
    }
    return CsvFlavor::Plain;
}
