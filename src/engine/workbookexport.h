#pragma once

#include "engine/conversionjob.h"

#include <QChar>
#include <QString>
#include <QStringList>

/**
 * Writes the finished rows as a workbook at fileName, one cell per field, every cell as text.
 * Reports progress 81 to 100, as rows are handed to the writer and as the writer puts them
 * into the file; 100 once the file is complete. On an error (a workbook limit, the writer's
 * failure) false is returned with the reason in error, and nothing is left at fileName; so
 * too when the export is stopped (WorkStopped), between any two progress steps.
 */
bool exportToWorkbook(const QStringList &rows, QChar delimiter, const QString &fileName, ExportEvents &events,
                      const std::stop_token &stop, QString *error);
