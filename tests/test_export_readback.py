#!/usr/bin/env python3
"""Reads a workbook back with openpyxl, as a real user's reader would, and
prints what it found as JSON for the export tests to compare:

  sheets        names of the worksheets, in order
  rows          per sheet row, per cell: value, openpyxl data type and alignment
  columns       openpyxl's column dimensions that carry a custom width
  rawColumns    the <col> elements of the sheet XML, attributes as written
  rawCellTypes  the distinct t= attributes of the sheet's <c> elements

With --summary it reads the sheets' XML itself, for workbooks too long for
openpyxl to read in a test: per sheet its name, row count, the texts of its
first two and last rows, its <col> elements and the distinct cell styles.
"""
import html
import json
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

import openpyxl

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"


def raw_sheet(path):
    with zipfile.ZipFile(path) as package:
        sheet = ET.fromstring(package.read("xl/worksheets/sheet1.xml"))
    columns = [dict(col.attrib) for col in sheet.iter(MAIN + "col")]
    types = sorted({c.get("t", "") for c in sheet.iter(MAIN + "c")})
    return columns, types


ROW = re.compile(r"<row [^>]*>(.*?)</row>", re.S)
TEXT = re.compile(r"<t(?: [^>]*)?>(.*?)</t>|<t/>", re.S)
STYLE = re.compile(r"<c [^>]*?s=\"(\d+)\"")


def row_texts(row_xml):
    return [html.unescape(m.group(1) or "") for m in TEXT.finditer(row_xml)]


def summary(path):
    """Sheets in workbook order; libxlsxwriter names their parts sheetN.xml."""
    with zipfile.ZipFile(path) as package:
        book = ET.fromstring(package.read("xl/workbook.xml"))
        names = [s.get("name") for s in book.iter(MAIN + "sheet")]
        sheets = []
        for number, name in enumerate(names, start=1):
            xml = package.read("xl/worksheets/sheet%d.xml" % number).decode("utf-8")
            rows = ROW.findall(xml)
            columns = [dict(col.attrib) for col in
                       ET.fromstring(xml[:xml.find("<sheetData")] + "</worksheet>").iter(MAIN + "col")]
            sheets.append({
                "name": name,
                "rowCount": len(rows),
                "first": row_texts(rows[0]) if rows else [],
                "second": row_texts(rows[1]) if len(rows) > 1 else [],
                "last": row_texts(rows[-1]) if rows else [],
                "rawColumns": columns,
                "styles": sorted(set(STYLE.findall(xml))),
            })
    json.dump({"sheets": sheets}, sys.stdout, ensure_ascii=False)


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
    raw_columns, raw_types = raw_sheet(path)
    json.dump({
        "sheets": book.sheetnames,
        "rows": rows,
        "columns": columns,
        "rawColumns": raw_columns,
        "rawCellTypes": raw_types,
    }, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    if sys.argv[1] == "--summary":
        summary(sys.argv[2])
    else:
        main(sys.argv[1])
