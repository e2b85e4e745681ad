#!/usr/bin/env python3
"""Reads a workbook back with openpyxl, as a real user's reader would, and
prints what it found as JSON for the export tests to compare:

  sheets        names of the worksheets, in order
  rows          per sheet row, per cell: value, openpyxl data type and alignment
  columns       openpyxl's column dimensions that carry a custom width
  rawColumns    the <col> elements of the sheet XML, attributes as written
  rawCellTypes  the distinct t= attributes of the sheet's <c> elements
  sharedStrings whether the package holds a shared-string table
"""
import json
import sys
import zipfile
import xml.etree.ElementTree as ET

import openpyxl

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"


def raw_sheet(path):
    with zipfile.ZipFile(path) as package:
        names = package.namelist()
        sheet = ET.fromstring(package.read("xl/worksheets/sheet1.xml"))
    columns = [dict(col.attrib) for col in sheet.iter(MAIN + "col")]
    types = sorted({c.get("t", "") for c in sheet.iter(MAIN + "c")})
    return columns, types, "xl/sharedStrings.xml" in names


def main(path):
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    rows = []
    for row in sheet.iter_rows():
        rows.append([
            {
                "value": cell.value,
                "type": cell.data_type,
                "horizontal": cell.alignment.horizontal,
                "vertical": cell.alignment.vertical,
            }
            for cell in row
        ])
    columns = {
        letter: dimension.width
        for letter, dimension in sheet.column_dimensions.items()
        if dimension.customWidth
    }
    raw_columns, raw_types, shared = raw_sheet(path)
    json.dump({
        "sheets": book.sheetnames,
        "rows": rows,
        "columns": columns,
        "rawColumns": raw_columns,
        "rawCellTypes": raw_types,
        "sharedStrings": shared,
    }, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
