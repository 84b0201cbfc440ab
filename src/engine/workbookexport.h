#pragma once

#include "engine/conversionjob.h"

#include <QChar>
#include <QString>
#include <QStringList>

/**
 * Writes the finished rows as a workbook at fileName, one cell per field, every cell as text.
 * Reports progress 81 to 100 through the host, as rows are handed to the writer and
 * as the writer puts them into the file; 100 once the file is complete. Errors are shown as a "WARNING" box and
 * false is returned; nothing is left at fileName then.
 */
bool exportToWorkbook(const QStringList &rows, QChar delimiter, const QString &fileName, ConversionHost &host);
