#!/usr/bin/env python3
"""The reference for bench_export: openpyxl in write-only mode writes the
cells of a tab-separated table (first line the header) as centred text cells
into Sheet1, columns B and E at width 20, and prints one JSON line with the
wall-clock and CPU seconds spent writing and its peak memory.

usage: openpyxl_writeonly.py TABLE.tsv OUT.xlsx
"""
import json
import resource
import sys
import time

from openpyxl import Workbook
from openpyxl.cell import WriteOnlyCell
from openpyxl.styles import Alignment


def resident_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def reset_peak():
    # Linux: writing 5 resets VmHWM to the current resident size.
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
    except OSError:
        pass


def main(table_path, out_path):
    with open(table_path, encoding="utf-8") as table:
        rows = [line.rstrip("\n").split("\t") for line in table]

    before = resident_kib("VmRSS")
    reset_peak()
    start = time.perf_counter()
    start_cpu = time.process_time()

    book = Workbook(write_only=True)
    sheet = book.create_sheet("Sheet1")
    sheet.column_dimensions["B"].width = 20
    sheet.column_dimensions["E"].width = 20
    centred = Alignment(horizontal="center", vertical="center")
    for row in rows:
        cells = []
        for text in row:
            cell = WriteOnlyCell(sheet, value=text)
            cell.alignment = centred
            cells.append(cell)
        sheet.append(cells)
    book.save(out_path)

    seconds = time.perf_counter() - start
    cpu_seconds = time.process_time() - start_cpu
    peak = resident_kib("VmHWM")
    print(json.dumps({
        "seconds": seconds,
        "cpuSeconds": cpu_seconds,
        "peakKiB": peak,
        "growthKiB": peak - before,
        "maxrssKiB": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss,
    }))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
