#pragma once

#include "engine/conversionjob.h"

#include <QStringView>

#include <optional>

/** The CSV layouts of the export menu, and tessaly-convert's --preset. */
enum class CsvPreset { Default, Excel, Google, Outlook, Yahoo };

/** The preset of a --preset name ("default", "excel", "google", "outlook", "yahoo", any case). */
std::optional<CsvPreset> csvPresetNamed(QStringView name);

/**
 * Makes the changes that choosing the preset makes to the options: Excel writes UTF-16;
 * Outlook writes ANSI with Headers on; Google and Yahoo turn UTF-16 into UTF-8 and Headers on;
 * Default changes nothing. With All fields, Google writes UTF-8 whatever was chosen, as
 * Google's own export does. Returns the CSV flavour the export writes: Google, Outlook and
 * Yahoo their own, Default and Excel Plain.
 */
CsvFlavor applyCsvPreset(CsvPreset preset, ExportOptions &options, ColumnModel columns = ColumnModel::Fifteen);
