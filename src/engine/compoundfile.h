#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <span>

/** The largest stream a compound file takes here: every size and sector number stays far from the reserved values. */
inline constexpr qsizetype kCompoundFileMaxStream = 0x7FFFFE00;

/**
 * Writes a compound file (the container of Excel 97-2003 workbooks, 512-byte sectors) with one
 * stream named "Workbook" in its root storage, made of the parts of stream one after the other
 * (at most kCompoundFileMaxStream bytes). A stream shorter than 4096 bytes is padded up to that
 * size with zeros, so that it never belongs in the mini stream. False with error set to the
 * device's reason when a write fails; a file device is flushed, so that its last bytes count.
 */
bool writeCompoundFile(std::span<const QByteArray> stream, QIODevice &device, QString *error);
