#!/usr/bin/python3
"""Makes the .xls test fixtures in tests/sheets/xls/fixtures.

Run with Debian's python, which has the modules this needs (python3-xlsxwriter, python3-uno),
with LibreOffice (soffice) and gnumeric (ssconvert) installed:
    /usr/bin/python3 tests/sheets/xls/make_fixtures.py [ooxml] [handmade] [pairs] [encrypted]
(no group named: all of them). The outputs are committed; run this again only to change them.
The hand-made group gives the same bytes every time; the others carry the programs' time
stamps. Three sources:
  - workbooks written as .xlsx with xlsxwriter and saved as .xls by LibreOffice (BIFF8) and by
    gnumeric (BIFF5, and the dual BIFF5+BIFF8 file), so that each .xls has its .xlsx twin;
  - workbooks LibreOffice saves encrypted (a protected structure, a password);
  - hand-made streams (biffwriter.py) in hand-made containers (cfbwriter.py), for what no
    program writes on demand.
"""

import datetime
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import biffwriter as bw  # noqa: E402
import cfbwriter  # noqa: E402

OUT = os.path.join(HERE, "fixtures")
PAIRS = os.path.join(OUT, "pairs")


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


# --- .xlsx sources and their .xls twins ------------------------------------------------------

def xlsx_types(path):
    import xlsxwriter
    wb = xlsxwriter.Workbook(path)
    ws = wb.add_worksheet("Types")
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    pct = wb.add_format({"num_format": "0.00%"})
    three = wb.add_format({"num_format": "0.000"})
    bold = wb.add_format({"bold": True})
    ws.write_string(0, 0, "text")
    ws.write_number(0, 1, 42)
    ws.write_number(0, 2, 12.34)
    ws.write_number(0, 3, -0.1)
    ws.write_number(0, 4, 1e20)
    ws.write_number(0, 5, 123456789)
    ws.write_string(1, 0, "café")
    ws.write_string(1, 1, "Ωμέγα")
    ws.write_string(1, 2, "漢字")
    ws.write_string(1, 3, "smile 😀")
    ws.write_boolean(2, 0, True)
    ws.write_boolean(2, 1, False)
    ws.write_formula(2, 2, "=1/0", None, "#DIV/0!")
    ws.write_formula(2, 3, "=NA()", None, "#N/A")
    ws.write_formula(3, 0, "=B1*2", None, 84)
    ws.write_formula(3, 2, "=B1>1", None, True)
    ws.write_datetime(4, 0, datetime.datetime(2024, 3, 14), date)
    ws.write_number(4, 1, 0.125, pct)
    ws.write_number(4, 2, 3.14159, three)
    ws.write_blank(4, 3, None, bold)
    ws.merge_range(5, 0, 5, 2, "merged", bold)
    ws.write_string(7, 5, "far")
    ws.write_string(8, 0, 'quote " and\ttab')
    hidden = wb.add_worksheet("Hidden")
    hidden.write(0, 0, "hidden")
    hidden.hide()
    third = wb.add_worksheet("Third")
    third.write(0, 0, "third")
    third.activate()
    wb.close()


def xlsx_strings(path):
    # Enough distinct strings, some long, that the shared-string table needs CONTINUE records
    # and strings cross them.
    import xlsxwriter
    wb = xlsxwriter.Workbook(path)
    ws = wb.add_worksheet("Strings")
    for i in range(1500):
        ws.write_string(i, 0, "string number %d" % i)
        if i % 100 == 0:
            ws.write_string(i, 1, ("long %d " % i) + "abcdefghij" * 120)
            ws.write_string(i, 2, ("Ωμέγα %d " % i) + "αβγδε" * 300)
    wb.close()


def xlsx_date1904(path):
    import xlsxwriter
    wb = xlsxwriter.Workbook(path, {"date_1904": True})
    ws = wb.add_worksheet("Dates")
    fmt = wb.add_format({"num_format": "m/d/yyyy"})
    ws.write_datetime(0, 0, datetime.datetime(2024, 3, 14), fmt)
    ws.write_number(0, 1, 0)
    wb.close()


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def libreoffice_xls(xlsx, outdir):
    run(["soffice", "--headless", "--norestore", "--convert-to", "xls", "--outdir", outdir, xlsx])


def gnumeric(xlsx, out, kind):
    run(["ssconvert", "--export-type=Gnumeric_Excel:" + kind, xlsx, out])


# Fixtures of tests/sheets/xlsx that hold a valid workbook LibreOffice reads as it is.
XLSX_TWINS = ["dates1904.xlsx", "disorder.xlsx", "libreoffice.xlsx", "macros.xlsm",
              "merges.xlsx", "openpyxl.xlsx", "sheets.xlsx", "types.xlsx"]


def pairs():
    os.makedirs(PAIRS, exist_ok=True)
    makers = {"types": xlsx_types, "strings": xlsx_strings, "date1904": xlsx_date1904}
    with tempfile.TemporaryDirectory() as tmp:
        for stem, make in makers.items():
            xlsx = os.path.join(PAIRS, stem + ".xlsx")
            make(xlsx)
            libreoffice_xls(xlsx, tmp)
            shutil.copy(os.path.join(tmp, stem + ".xls"), os.path.join(PAIRS, stem + ".xls"))
        # The xlsx reader's own fixtures, each saved as .xls beside ours.
        theirs = os.path.join(HERE, "..", "xlsx", "fixtures")
        for name in XLSX_TWINS:
            libreoffice_xls(os.path.join(theirs, name), tmp)
            stem = os.path.splitext(name)[0]
            shutil.copy(os.path.join(tmp, stem + ".xls"),
                        os.path.join(PAIRS, "xlsx-" + stem + ".xls"))
        gnumeric(os.path.join(PAIRS, "types.xlsx"), os.path.join(OUT, "types-biff5.xls"),
                 "excel_biff7")
        gnumeric(os.path.join(PAIRS, "types.xlsx"), os.path.join(OUT, "types-dual.xls"),
                 "excel_dsf")


# --- Encrypted by LibreOffice -----------------------------------------------------------------

def libreoffice_encrypted():
    import uno
    from com.sun.star.beans import PropertyValue

    def prop(name, value):
        p = PropertyValue()
        p.Name = name
        p.Value = value
        return p

    with tempfile.TemporaryDirectory() as profile:
        office = subprocess.Popen(
            ["soffice", "--headless", "--invisible", "--norestore",
             "-env:UserInstallation=file://" + profile,
             "--accept=pipe,name=tabulixfixtures;urp;"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            local = uno.getComponentContext()
            resolver = local.ServiceManager.createInstanceWithContext(
                "com.sun.star.bridge.UnoUrlResolver", local)
            ctx = None
            for _ in range(200):
                try:
                    ctx = resolver.resolve(
                        "uno:pipe,name=tabulixfixtures;urp;StarOffice.ComponentContext")
                    break
                except Exception:
                    time.sleep(0.2)
            desktop = ctx.ServiceManager.createInstanceWithContext(
                "com.sun.star.frame.Desktop", ctx)
            doc = desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0,
                                               (prop("Hidden", True),))
            sheet = doc.Sheets.getByIndex(0)
            sheet.getCellByPosition(0, 0).setString("secret text")
            sheet.getCellByPosition(1, 0).setValue(42.5)
            url = "file://" + OUT + "/"
            # A password: the file is encrypted with it (RC4).
            doc.storeToURL(url + "lo-password-secret.xls",
                           (prop("FilterName", "MS Excel 97"), prop("Password", "secret")))
            # A protected structure: encrypted with the application's default password.
            doc.protect("")
            doc.storeToURL(url + "lo-protected-structure.xls", (prop("FilterName", "MS Excel 97"),))
            doc.close(True)
            try:
                desktop.terminate()
            except Exception:
                pass
        finally:
            try:
                office.wait(timeout=60)
            except subprocess.TimeoutExpired:
                office.kill()


# --- Hand-made --------------------------------------------------------------------------------

def cells_workbook():
    """One sheet with every kind of cell record, and sheets of every other kind."""
    f = bw
    formats = [(164, "0.0000"), (165, '"custom" @'), (166, "yyyy-mm-dd hh:mm")]
    # XF 0 General, 1 custom 164, 2 built-in 14 (a date), 3 custom 165 (text), 4 custom 166,
    # 5 built-in 10 (0.00%).
    xfs = [0, 164, 14, 165, 166, 10]
    cells = [
        f.rk(0, 0, f.rk_number(1)),               # integer
        f.rk(0, 1, 0x4D2 << 2 | 3),               # 1234 / 100 = 12.34
        f.rk(0, 2, f.rk_number(-3.5)),            # top bits of a double
        f.rk(0, 3, f.rk_number(0.25) | 1),        # a double / 100: 0.0025
        f.rk(0, 4, ((-7) << 2 & 0xFFFFFFFF) | 2),  # negative integer
        f.number(1, 0, 0.1),
        f.number(1, 1, 123456789012345678.0),
        f.number(1, 2, -1e-300),
        f.number(1, 3, 45000.5, xf=2),            # a date
        f.number(1, 4, 1.5, xf=1),
        f.number(1, 5, 0.5, xf=5),
        f.mulrk(2, 1, [f.rk_number(10), f.rk_number(20), f.rk_number(30.5)]),
        f.mulblank(3, 0, [1, 1, 1]),
        f.blank(3, 5, xf=1),
        f.labelsst(4, 0, 0),
        f.labelsst(4, 1, 1, xf=3),
        f.label8(4, 2, "label"),
        f.label8(4, 3, "Grüße Ω"),
        f.rstring8(4, 4, "rich"),
        f.boolerr(5, 0, 1, False),
        f.boolerr(5, 1, 0, False),
    ]
    for k, code in enumerate([0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A, 0x2B]):
        cells.append(f.boolerr(6, k, code, True))
    cells += [
        f.formula(7, 0, 84.0),
        f.formula(7, 1, ("str",)), f.string8("formula text"),
        f.formula(7, 2, ("bool", 1)),
        f.formula(7, 3, ("err", 0x07)),
        f.formula(7, 4, ("empty",)),
        f.formula(7, 5, ("str",)), f.string8("Ω" * 5000),  # crosses a CONTINUE
        f.formula(7, 6, ("str",)),  # a string result whose STRING record is missing
        f.number(7, 7, 7.0),
        f.formula(8, 0, 2.5, xf=4),
        f.number(8, 1, 1.0, xf=99),  # an XF the workbook does not have
    ]
    # An embedded chart: its records are not cells of the sheet.
    chart = f.bof(0x20) + f.number(0, 0, 999.0) + f.record(f.EOF)
    cells.append(chart)
    cells.append(f.label8(9, 0, "after chart"))
    types = f.Sheet("Cells", cells, merges=[(4, 0, 4, 1)], dimensions=(0, 0, 9, 7))
    sheets = [
        types,
        f.Sheet("Hidden", [f.label8(0, 0, "h")], hidden=1),
        f.Sheet("VeryHidden", [f.label8(0, 0, "vh")], hidden=2),
        # A chart sheet: its data cache holds NUMBER records that are no cells.
        f.Sheet("Chart", [f.number(0, 0, 5.0)], kind=2, bof_type=0x20),
        f.Sheet("Dialog", [], dialog=True),
        f.Sheet("Macro", [f.number(0, 0, 1.0)], kind=1, bof_type=0x40),
        f.Sheet("Empty", []),
    ]
    return f.workbook(sheets, strings=["shared", "shared with format"], formats=formats,
                      xf_formats=xfs, active=1)


def order_workbook():
    """Cells in the order some writers put them down: by column, rows going back and forth,
    a cell written twice."""
    f = bw
    cells = [
        f.number(2, 1, 21.0), f.number(0, 1, 1.0), f.number(1, 1, 11.0),
        f.number(0, 0, 0.0), f.number(2, 0, 20.0), f.number(1, 0, 10.0),
        f.number(1, 0, 10.5),  # written again: the later one counts
        f.label8(0, 2, "a"), f.label8(2, 2, "c"), f.label8(1, 2, "b"),
    ]
    in_row = [f.number(0, 3, 3.0), f.number(0, 1, 1.0), f.number(0, 2, 2.0),
              f.number(0, 1, 1.5), f.label8(1, 1, "x"), f.label8(1, 0, "y")]
    return f.workbook([f.Sheet("ByColumn", cells), f.Sheet("InRow", in_row)])


def sst_split_workbook():
    f = bw
    strings = [
        "plain",
        "x" * 40 + "Ω" * 30,            # narrow, then wide after the boundary
        "Ω" * 25 + "y" * 40,            # wide, then narrow
        "runs and phonetic cross",      # its runs and phonetic block cross a boundary
        "a😀b" * 15,                    # surrogate pairs near the boundary
        "",                             # empty
        "last",
    ]
    rich = {3: (6, b"PHONETIC-BLOCK" * 3)}
    records = f.sst(strings, limit=48, rich=rich)
    cells = [f.labelsst(i, 0, i) for i in range(len(strings))]
    return f.workbook([f.Sheet("Split", cells)], sst_records=records)


def biff5_workbook(codepage, texts, name):
    f = bw
    cells = [f.label5(i, 0, raw) for i, raw in enumerate(texts)]
    cells.append(f.number(len(texts), 0, 1.25, xf=1))
    return f.workbook([f.Sheet(name, cells)], biff8=False, codepage=codepage,
                      formats=[(164, "0.0")], xf_formats=[0, 164])


def handmade():
    cells = cells_workbook()
    write("cells.xls", cfbwriter.write_cfb({"Workbook": cells}))
    write("order.xls", cfbwriter.write_cfb({"Workbook": order_workbook()}))
    write("sst-split.xls", cfbwriter.write_cfb({"Workbook": sst_split_workbook()}))
    write("biff5-cp1251.xls", cfbwriter.write_cfb({"Book": biff5_workbook(
        1251, ["Привет".encode("cp1251"), "мир".encode("cp1251")], "Лист1".encode("cp1251"))}))
    write("biff5-cp932.xls", cfbwriter.write_cfb({"Book": biff5_workbook(
        932, ["日本語".encode("cp932"), "ｶﾀｶﾅ".encode("cp932")], "シート".encode("cp932"))}))
    write("vba.xls", cfbwriter.write_cfb(
        {"Workbook": cells, "_VBA_PROJECT_CUR/VBA/dir": b"\x01" * 100,
         "_VBA_PROJECT_CUR/PROJECT": b'ID="{00000000-0000-0000-0000-000000000000}"'}))
    write("word.doc", cfbwriter.write_cfb({"WordDocument": b"\xec\xa5" + b"\0" * 600}))
    # The same workbook laid out in unusual but valid ways: a big stream whose sectors are
    # scattered, and an allocation table long enough to need a DIFAT sector.
    big = bw.workbook([bw.Sheet("Big", [bw.number(i, 0, float(i)) for i in range(600)])])
    write("scattered.xls", cfbwriter.write_cfb({"Workbook": big, "Other": bytes(6000)},
                                               scatter=True))
    write("difat.xls", cfbwriter.write_cfb({"Workbook": big}, extra_fat_sectors=250))
    # Encrypted by hand, by method and password.
    plain = bw.workbook([bw.Sheet("Secret", [bw.label8(0, 0, "decrypted"),
                                             bw.number(0, 1, 42.5)] +
                                  [bw.number(r, 0, float(r)) for r in range(1, 300)])],
                        strings=["unused"])
    write("plain.xls", cfbwriter.write_cfb({"Workbook": plain}))
    variants = {
        "cryptoapi-default.xls": ("VelvetSweatshop", "cryptoapi", 40),
        "cryptoapi128-default.xls": ("VelvetSweatshop", "cryptoapi", 128),
        "cryptoapi-secret.xls": ("secret", "cryptoapi", 40),
        "rc4-default.xls": ("VelvetSweatshop", "rc4", 0),
        "rc4-secret.xls": ("secret", "rc4", 0),
        "xor.xls": ("secret", "xor", 0),
    }
    for name, (password, method, bits) in variants.items():
        stream, expected = bw.encrypt(plain, password, method, key_bits=bits)
        write(name, cfbwriter.write_cfb({"Workbook": stream}))
        check_with_msoffcrypto(name, password, method, expected)


def check_with_msoffcrypto(name, password, method, plain):
    # An independent implementation must decrypt what we encrypted by hand, if it is installed.
    if method == "xor":
        return
    try:
        import io
        import msoffcrypto
    except ImportError:
        return
    office = msoffcrypto.OfficeFile(open(os.path.join(OUT, name), "rb"))
    office.load_key(password=password)
    out = io.BytesIO()
    office.decrypt(out)
    import olefile
    stream = olefile.OleFileIO(out.getvalue()).openstream("Workbook").read()
    # msoffcrypto blanks the FILEPASS record; everything else must match.
    fp_len = 4 + struct.unpack_from("<H", stream, 22)[0]
    assert stream[:20] == plain[:20], name
    assert stream[20 + fp_len:] == plain[20 + fp_len:], name


def encrypted_ooxml():
    # How the application stores a password-protected .xlsx: a compound file with the
    # encryption parameters and the encrypted zip package. The reader only has to recognise
    # it, so the package bytes need not decrypt to anything.
    info = struct.pack("<HHI", 4, 4, 0x40) + b'<?xml version="1.0"?><encryption/>'
    package = struct.pack("<Q", 4000) + bytes((i * 7) & 0xFF for i in range(4096))
    write("encrypted-ooxml.xlsx", cfbwriter.write_cfb(
        {"EncryptionInfo": info, "EncryptedPackage": package}))


def main():
    # Any of these names on the command line makes only those groups.
    groups = {"ooxml": encrypted_ooxml, "handmade": handmade, "pairs": pairs,
              "encrypted": libreoffice_encrypted}
    chosen = sys.argv[1:] or list(groups)
    os.makedirs(OUT, exist_ok=True)
    for name in chosen:
        groups[name]()


if __name__ == "__main__":
    main()
