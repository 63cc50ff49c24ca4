#!/usr/bin/python3
"""Makes the workbooks of the conversion tests in tests/convert/fixtures.

    /usr/bin/python3 tests/convert/make_fixtures.py

Needs python3-xlsxwriter (Debian). protected.xls is not made here: it is a copy of the xls
reader's fixture rc4-secret.xls (RC4-encrypted with the password "secret").
"""
import io
import os
import tempfile
import zipfile

import xlsxwriter

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")


def out(name):
    return os.path.join(HERE, name)


def write_book(path, build, **options):
    wb = xlsxwriter.Workbook(path, options)
    build(wb)
    wb.close()


def sheets_xlsx(wb):
    """Four sheets: One, Two (active), Hidden (hidden), Four. Each says its own name."""
    for name in ["One", "Two", "Hidden", "Four"]:
        ws = wb.add_worksheet(name)
        ws.write_string(0, 0, name.lower())
        if name == "Two":
            ws.activate()
        if name == "Hidden":
            ws.hide()


def macros_xlsm(wb):
    """A macro-enabled workbook; the project is a stand-in, only its presence counts."""
    ws = wb.add_worksheet()
    ws.write_string(0, 0, "macro book")
    project = os.path.join(tempfile.mkdtemp(), "vbaProject.bin")
    with open(project, "wb") as f:
        f.write(b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + b"\0" * 504)
    wb.add_vba_project(project)


def long_xlsx(wb):
    """Enough rows that the text is written in several pieces before the damage is met."""
    ws = wb.add_worksheet("Long")
    for row in range(2000):
        ws.write_string(row, 0, "row %d" % row)
        ws.write_number(row, 1, row)


def broken_sheet_xlsx():
    """long.xlsx with its sheet cut off near the end: the workbook opens, its save fails part
    way through the rows."""
    buffer = io.BytesIO()
    write_book(buffer, long_xlsx, in_memory=True)
    source = zipfile.ZipFile(io.BytesIO(buffer.getvalue()))
    with zipfile.ZipFile(out("broken-sheet.xlsx"), "w", zipfile.ZIP_DEFLATED) as target:
        for item in source.infolist():
            data = source.read(item.filename)
            if item.filename == "xl/worksheets/sheet1.xml":
                cut = data.rfind(b"<row ", 0, len(data) * 9 // 10)
                data = data[:cut] + b"<row r=\"broken\"><c><v>1</c></row>"
            target.writestr(item, data)


def main():
    os.makedirs(HERE, exist_ok=True)
    write_book(out("sheets.xlsx"), sheets_xlsx)
    write_book(out("macros.xlsm"), macros_xlsm)
    broken_sheet_xlsx()


if __name__ == "__main__":
    main()
