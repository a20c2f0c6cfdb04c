#!/usr/bin/python3
# Reads a spreadsheet with openpyxl, a reader independent of the program, and prints what a test compares as JSON:
# per sheet its name, the frozen cell, the header's boldness, every cell's type and value, and the column widths.
import datetime
import json
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1])
sheets = []
for sheet in book.worksheets:
    rows = []
    for row in sheet.iter_rows():
        cells = []
        for cell in row:
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
            cells.append({"kind": kind, "value": value, "format": cell.number_format})
        rows.append(cells)
    widths = [sheet.column_dimensions[openpyxl.utils.get_column_letter(i + 1)].width
              for i in range(sheet.max_column)]
    sheets.append({"name": sheet.title, "freeze": sheet.freeze_panes,
                   "bold": [bool(c.font.bold) for c in sheet[1]], "rows": rows, "widths": widths})
json.dump(sheets, sys.stdout, ensure_ascii=False)
