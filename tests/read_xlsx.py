#!/usr/bin/python3
# Reads a spreadsheet with openpyxl, a reader independent of the program, and prints what a test compares as JSON:
# per sheet its name, the frozen cell, the header's boldness, every cell's type and value, and the column widths.
import datetime
import json
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1])
# The values a reader that does not recalculate shows: a formula's cached result.
cached_book = openpyxl.load_workbook(sys.argv[1], data_only=True)
sheets = []
for sheet, cached_sheet in zip(book.worksheets, cached_book.worksheets):
    rows = []
    for row, cached_row in zip(sheet.iter_rows(), cached_sheet.iter_rows()):
        cells = []
        for cell, cached in zip(row, cached_row):
            value = cell.value
            if isinstance(value, datetime.datetime):
                value = value.strftime("%Y-%m-%d")
                kind = "date"
            elif cell.data_type == "f":
                kind = "formula"
            elif cell.data_type == "n":
                kind = "number"
            else:
                kind = "text"
            shown = cached.value
            if isinstance(shown, datetime.datetime):
                shown = shown.strftime("%Y-%m-%d")
            cells.append({"kind": kind, "value": value, "format": cell.number_format, "cached": shown})
        rows.append(cells)
    widths = [sheet.column_dimensions[openpyxl.utils.get_column_letter(i + 1)].width
              for i in range(sheet.max_column)]
    sheets.append({"name": sheet.title, "freeze": sheet.freeze_panes,
                   "bold": [bool(c.font.bold) for c in sheet[1]], "rows": rows, "widths": widths})
json.dump(sheets, sys.stdout, ensure_ascii=False)
