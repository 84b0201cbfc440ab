#!/usr/bin/python3
"""Reads a workbook (.xlsx with openpyxl, .xls with xlrd) and prints its first sheet as JSON.

Output keys:
  sheets   the number of worksheets
  cells    rows of cell texts ("" for a blank cell), as many columns as the widest row
  formats  rows of the cells' number format strings
  widths   {column number from 1: width in characters} for every column with a width
"""
import json
import sys


def read_xlsx(path):
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
        cells.append(["" if c.value is None else str(c.value) for c in row])
        formats.append([c.number_format if c.has_style or c.value is not None else column_format(c.column)
                        for c in row])
    widths = {}
    for dimension in dimensions:
        if dimension.customWidth:
            for column in range(dimension.min, dimension.max + 1):
                widths[column] = dimension.width
    return len(book.worksheets), cells, formats, widths


def read_xls(path):
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    sheet = book.sheet_by_index(0)
    cells, formats = [], []
    for r in range(sheet.nrows):
        cells.append([str(sheet.cell_value(r, c)) for c in range(sheet.ncols)])
        formats.append([book.format_map[book.xf_list[sheet.cell_xf_index(r, c)].format_key].format_str
                        for c in range(sheet.ncols)])
    widths = {c + 1: info.width / 256 for c, info in sheet.colinfo_map.items()}
    return book.nsheets, cells, formats, widths


def main():
    path = sys.argv[1]
    reader = read_xlsx if path.lower().endswith(".xlsx") else read_xls
    sheets, cells, formats, widths = reader(path)
    json.dump({"sheets": sheets, "cells": cells, "formats": formats, "widths": widths},
              sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
