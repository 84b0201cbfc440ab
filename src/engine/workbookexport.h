#pragma once

#include "engine/conversionjob.h"

#include <QChar>
#include <QString>
#include <QStringList>

/**
 * Writes the finished rows as a workbook at fileName, one cell per field, every cell as text.
 * Reports progress 81 to 100 through the host. Errors are shown as a "WARNING" box and
 * false is returned; nothing is left at fileName then.
 */
bool exportToWorkbook(const QStringList &rows, QChar delimiter, const QString &fileName, ConversionHost &host);
