#pragma once

// A reader of the .xlsx files our writer makes: the zip's central directory, the worksheet
// part (stored or deflated), and its inline-string cells, with the format's _xHHHH_ escapes
// decoded as Excel decodes them. It returns the cells, or a reason why the file is not as the
// writer promises.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace xlsxcheck {

/** The rows of the first worksheet, each as many cells as its last used column ("" for a blank cell). */
std::optional<QList<QStringList>> readCells(const QByteArray &file, QString &why);

/** Text as Excel reads a cell's stored text: each _xHHHH_ is the character U+HHHH, from left to right. */
QString decodeEscapes(QStringView stored);

} // namespace xlsxcheck
