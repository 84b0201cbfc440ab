#include "convert/workbookexport.h"

#include "translation/translate.h"

bool ExportToWorkbook(const QStringList &rows, QChar delimiter, const QString &fileName, ConversionHost &host)
{
    Q_UNUSED(rows);
    Q_UNUSED(delimiter);
    host.ShowMessage(MessageIcon::Warning, Translate(QStringLiteral("WARNING")),
                     FormatText(QStringLiteral("Cannot create file \"%s\". %s"),
                                {fileName, QStringLiteral("Workbook output is not available in this version.")}));
    return false;
}
