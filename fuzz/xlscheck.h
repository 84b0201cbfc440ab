#pragma once

// A reader of the .xls files our writer makes, strict where the writer promises something:
// the compound file's header, FAT, DIFAT and directory, the Workbook stream's chain, then the
// stream's BIFF records (lengths, CONTINUE records of the shared strings, EXTSST, the sheet's
// offset, dimensions and cells). It returns the cells, or a reason why the file is damaged.

#include <QByteArray>
#include <QMap>
#include <QPair>
#include <QString>

#include <optional>

namespace xlscheck {

/** A cell by (row, column): its text, or an empty text for a blank cell. */
using Cells = QMap<QPair<int, int>, QString>;

struct Workbook {
    Cells cells;
    int widthColumns = 0; // columns that COLINFO gives a width, from column 0
};

/** The workbook in file, or nullopt with why set when the file breaks a rule. */
std::optional<Workbook> readWorkbook(const QByteArray &file, QString &why);

} // namespace xlscheck
