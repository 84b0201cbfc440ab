#!/usr/bin/python3
"""Reads an .xls workbook back for tst_xlsfile and prints what it found as one JSON object.

Usage: xlsfile_check.py WORKBOOK [--rows 0,5,65535]

Keys of the output:
  log       everything xlrd reported while opening the file (empty for a clean file)
  problems  faults of the container or record layout that xlrd tolerates but other readers do not
  sheets    sheet names
  nrows, ncols
  cells     [row, column, xlrd cell type, value, number format string] for every cell that
            exists in the listed rows (all rows without --rows)
  colinfo   {column: width} for the columns with a width record
  sst       [total, unique] counts of the shared string table
"""

import argparse
import io
import json
import struct
import sys

import xlrd
from xlrd import compdoc

SST = 0x00FC
CONTINUE = 0x003C
EXTSST = 0x00FF
MAX_RECORD_DATA = 8224


SECTOR = 512
FREESECT, ENDOFCHAIN, FATSECT, DIFSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC


def check_container(data, problems):
    """Checks the sector bookkeeping of the compound file that xlrd does not look at."""
    def u32(at):
        return struct.unpack_from("<I", data, at)[0]

    def sector(number):
        return 512 + number * SECTOR

    if (len(data) - 512) % SECTOR:
        problems.append("file size is not a whole number of sectors")
    fat_sectors = [u32(76 + 4 * i) for i in range(109)]
    difat_sectors = []
    next_difat = u32(68)
    while next_difat != ENDOFCHAIN and len(difat_sectors) <= u32(72):
        difat_sectors.append(next_difat)
        fat_sectors += [u32(sector(next_difat) + 4 * i) for i in range(127)]
        next_difat = u32(sector(next_difat) + 508)
    fat_sectors = [s for s in fat_sectors if s != FREESECT]
    if len(fat_sectors) != u32(44) or len(difat_sectors) != u32(72):
        problems.append("header counts %d FAT and %d DIFAT sectors, found %d and %d"
                        % (u32(44), u32(72), len(fat_sectors), len(difat_sectors)))
    fat = b"".join(data[sector(s):sector(s) + SECTOR] for s in fat_sectors)

    def next_of(number):
        return struct.unpack_from("<I", fat, 4 * number)[0]

    for s in fat_sectors:
        if next_of(s) != FATSECT:
            problems.append("FAT sector %d is not marked as one" % s)
    for s in difat_sectors:
        if next_of(s) != DIFSECT:
            problems.append("DIFAT sector %d is not marked as one" % s)

    def chain(start):
        sectors = []
        while start != ENDOFCHAIN and len(sectors) * 4 <= len(fat):
            sectors.append(start)
            start = next_of(start)
        return sectors

    directory = chain(u32(48))
    entry = sector(directory[0]) + 128  # the entry after the root
    name = data[entry:entry + struct.unpack_from("<H", data, entry + 64)[0]].decode("utf-16-le")
    size = u32(entry + 120)
    stream = chain(u32(entry + 116))
    if name != "Workbook\0" or size < 4096 or len(stream) != (size + SECTOR - 1) // SECTOR:
        problems.append("stream %r of %d bytes in %d sectors" % (name, size, len(stream)))
    used = stream + directory + fat_sectors + difat_sectors
    if len(set(used)) != len(used):
        problems.append("a sector is used twice")


def records(stream):
    """Yields (type, position of the record header, data) for the records of a stream."""
    pos = 0
    while pos + 4 <= len(stream):
        rtype, size = struct.unpack_from("<HH", stream, pos)
        if rtype == 0 and size == 0:
            return  # padding after the last substream
        yield rtype, pos, stream[pos + 4:pos + 4 + size]
        pos += 4 + size


def string_starts(stream, problems):
    """Walks the shared string table and returns (stream position, offset in its record) per string."""
    pieces = []  # (record header position, data)
    totals = None
    for rtype, pos, data in records(stream):
        if len(data) > MAX_RECORD_DATA:
            problems.append("record 0x%04X at %d has %d bytes" % (rtype, pos, len(data)))
        if rtype == SST:
            totals = struct.unpack_from("<II", data, 0)
            pieces.append((pos, data))
        elif rtype == CONTINUE and pieces:
            pieces.append((pos, data))
        elif pieces:
            break
    if totals is None:
        problems.append("no SST record")
        return None, []
    starts = []
    piece, at = 0, 8
    for _ in range(totals[1]):
        header_pos, data = pieces[piece]
        if at == len(data):
            piece, at = piece + 1, 0
            header_pos, data = pieces[piece]
        if at + 3 > len(data):
            problems.append("string header split at record %d" % piece)
            return totals, starts
        starts.append((header_pos + 4 + at, 4 + at))
        count, options = struct.unpack_from("<HB", data, at)
        at += 3
        while True:
            unit = 2 if options & 1 else 1
            taken = min(count, (len(data) - at) // unit)
            if taken == 0 and count > 0 and at < len(data):
                problems.append("odd bytes left in record %d" % piece)
            count -= taken
            at += taken * unit
            if count == 0:
                break
            piece += 1
            header_pos, data = pieces[piece]
            options, at = data[0], 1
    return totals, starts


def check_extsst(stream, starts, problems):
    """Every EXTSST entry must point at the first string of its bucket."""
    for rtype, _, data in records(stream):
        if rtype != EXTSST:
            continue
        bucket = struct.unpack_from("<H", data, 0)[0]
        entries = (len(data) - 2) // 8
        expected = (len(starts) + bucket - 1) // bucket if bucket else -1
        if bucket < 8 or entries != expected:
            problems.append("EXTSST: %d entries of %d strings for %d strings" % (entries, bucket, len(starts)))
            return
        for k in range(entries):
            position, offset = struct.unpack_from("<IH", data, 2 + 8 * k)
            if (position, offset) != starts[k * bucket]:
                problems.append("EXTSST entry %d is %r, string %d starts at %r"
                                % (k, (position, offset), k * bucket, starts[k * bucket]))
                return
        return
    problems.append("no EXTSST record")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("workbook")
    parser.add_argument("--rows", default="")
    args = parser.parse_args()

    log = io.StringIO()
    with open(args.workbook, "rb") as f:
        data = f.read()
    problems = []
    check_container(data, problems)
    stream = compdoc.CompDoc(data, logfile=log).get_named_stream("Workbook")
    totals, starts = string_starts(stream, problems)
    if totals is not None and not problems:
        check_extsst(stream, starts, problems)

    book = xlrd.open_workbook(file_contents=data, formatting_info=True, logfile=log)
    sheet = book.sheet_by_index(0)
    wanted = [int(r) for r in args.rows.split(",") if r] if args.rows else range(sheet.nrows)
    cells = []
    for r in wanted:
        if r >= sheet.nrows:
            continue
        for c in range(sheet.row_len(r)):
            cell = sheet.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_EMPTY:
                continue
            fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
            cells.append([r, c, cell.ctype, cell.value, fmt])

    report = json.dumps({
        "log": log.getvalue(),
        "problems": problems,
        "sheets": book.sheet_names(),
        "nrows": sheet.nrows,
        "ncols": sheet.ncols,
        "cells": cells,
        "colinfo": {str(c): info.width for c, info in sheet.colinfo_map.items()},
        "sst": list(totals) if totals else None,
    }, ensure_ascii=False)
    sys.stdout.buffer.write(report.encode("utf-8"))


if __name__ == "__main__":
    main()
