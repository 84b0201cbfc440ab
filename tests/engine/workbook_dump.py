#!/usr/bin/python3
"""Reads a workbook and prints its first sheet as JSON.

    workbook_dump.py [--reader openpyxl|xlrd|libreoffice] [--profile DIR] WORKBOOK

The reader defaults to openpyxl for .xlsx and xlrd for .xls. openpyxl hands over the text of a
cell as it stands in the file, so its cells are decoded here as Excel decodes them (an escape
_xHHHH_ is the character U+HHHH, read from left to right); xlrd decodes them itself. The
libreoffice reader converts the workbook to CSV with soffice (in a profile folder of its own,
DIR when given) and reads that file back; it gives only the cells.

Output keys:
  sheets   the number of worksheets
  cells    rows of cell texts ("" for a blank cell), as many columns as the widest row
  formats  rows of the cells' number format strings
  widths   {column number from 1: width in characters} for every column with a width
"""
import argparse
import csv
import json
import os
import re
import subprocess
import sys
import tempfile

EXCEL_ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def excel_text(value):
    return EXCEL_ESCAPE.sub(lambda match: chr(int(match.group(1), 16)), value)


def read_openpyxl(path):
    import openpyxl
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    dimensions = [d for d in sheet.column_dimensions.values() if d.min is not None]

    def column_format(column):
        # A cell without a record of its own shows its column's format.
        for dimension in dimensions:
            if dimension.min <= column <= dimension.max:
                return dimension.number_format
        return "General"

    cells, formats = [], []
    for row in sheet.iter_rows():
        cells.append(["" if c.value is None else excel_text(str(c.value)) for c in row])
        formats.append([c.number_format if c.has_style or c.value is not None else column_format(c.column)
                        for c in row])
    widths = {}
    for dimension in dimensions:
        if dimension.customWidth:
            for column in range(dimension.min, dimension.max + 1):
                widths[column] = dimension.width
    return {"sheets": len(book.worksheets), "cells": cells, "formats": formats, "widths": widths}


def read_xlrd(path):
    import xlrd
    xls = not path.lower().endswith(".xlsx")
    # xlrd keeps formats of .xls files only.
    book = xlrd.open_workbook(path, formatting_info=xls)
    sheet = book.sheet_by_index(0)
    cells = [[str(sheet.cell_value(r, c)) for c in range(sheet.ncols)] for r in range(sheet.nrows)]
    result = {"sheets": book.nsheets, "cells": cells}
    if xls:
        result["formats"] = [[book.format_map[book.xf_list[sheet.cell_xf_index(r, c)].format_key].format_str
                              for c in range(sheet.ncols)] for r in range(sheet.nrows)]
        result["widths"] = {c + 1: info.width / 256 for c, info in sheet.colinfo_map.items()}
    return result


def read_libreoffice(path, profile):
    with tempfile.TemporaryDirectory() as folder:
        profile = profile or os.path.join(folder, "profile")
        subprocess.run(["soffice", "-env:UserInstallation=file://" + os.path.abspath(profile), "--headless",
                        "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1", "--outdir", folder, path],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        name = os.path.splitext(os.path.basename(path))[0] + ".csv"
        with open(os.path.join(folder, name), encoding="utf-8", newline="") as converted:
            cells = list(csv.reader(converted))
    return {"sheets": 1, "cells": cells}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--reader", choices=["openpyxl", "xlrd", "libreoffice"])
    parser.add_argument("--profile")
    parser.add_argument("workbook")
    arguments = parser.parse_args()
    path = arguments.workbook
    reader = arguments.reader or ("openpyxl" if path.lower().endswith(".xlsx") else "xlrd")
    if reader == "openpyxl":
        result = read_openpyxl(path)
    elif reader == "xlrd":
        result = read_xlrd(path)
    else:
        result = read_libreoffice(path, arguments.profile)
    json.dump(result, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
