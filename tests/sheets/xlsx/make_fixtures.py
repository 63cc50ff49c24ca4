#!/usr/bin/python3
"""Makes the .xlsx test fixtures in tests/sheets/xlsx/fixtures.

Run with Debian's python (it has python3-xlsxwriter and python3-openpyxl), with LibreOffice
(soffice) installed:
    /usr/bin/python3 tests/sheets/xlsx/make_fixtures.py
The outputs are committed; run this again only to change them. Three sources:
  - workbooks written by real writers: xlsxwriter, openpyxl, and LibreOffice (which saves a
    flat OpenDocument file written here as .xlsx, .ods and, from a text file, .docx);
  - packages put together here, part by part, for what no writer makes on demand: prefixed
    and Strict namespaces, odd part names, cells without references, rows out of order,
    merges over values, damaged and hostile files;
  - files that are not workbooks at all.
What each sheet must give as text is written out by hand in the tests.
"""

import datetime
import io
import os
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "fixtures")

MAIN_NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL_NS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG_REL_NS = "http://schemas.openxmlformats.org/package/2006/relationships"
STRICT_MAIN_NS = "http://purl.oclc.org/ooxml/spreadsheetml/main"
STRICT_REL_NS = "http://purl.oclc.org/ooxml/officeDocument/relationships"
SHEET_MAIN_TYPE = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"
WORKSHEET_TYPE = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"
XML_DECL = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'


def out(name):
    return os.path.join(OUT, name)


# --- written by real writers -------------------------------------------------------------------

def types_xlsx():
    """One sheet of every kind of cell xlsxwriter writes, and the formats that show them."""
    import xlsxwriter
    wb = xlsxwriter.Workbook(out("types.xlsx"))
    ws = wb.add_worksheet("Types")
    fmt = {code: wb.add_format({"num_format": code}) for code in [
        "#,##0.00", "0.0%", "m/d/yyyy", "yyyy-mm-dd hh:mm:ss", "0.00E+00", "# ?/?", "@",
        '"$"#,##0_);("$"#,##0)', "[h]:mm", ";;;"]}
    # Row 1 is left empty and column A too: the text still starts at A1.
    rows = [
        ["General", 2.5, 1 / 3, 123456789012, 1e16, -0.5, 0],
        ["Formats", (1234.5, "#,##0.00"), (0.125, "0.0%"), (datetime.date(2024, 3, 14), "m/d/yyyy"),
         (datetime.datetime(2024, 3, 14, 10, 30, 5), "yyyy-mm-dd hh:mm:ss"),
         (12345.678, "0.00E+00"), (1.5, "# ?/?")],
        ["More", (42, "@"), (-1234, '"$"#,##0_);("$"#,##0)'), (1.25, "[h]:mm"),
         (7, ";;;")],
        ["Text", "tab\there", 'say "hi"', "two\nlines", "  spaced  ", "Zürich 東京 😀"],
        ["Logic", True, False],
    ]
    for r, row in enumerate(rows, start=1):
        for c, value in enumerate(row, start=1):
            if isinstance(value, tuple):
                if isinstance(value[0], (datetime.date, datetime.datetime)):
                    ws.write_datetime(r, c, value[0], fmt[value[1]])
                else:
                    ws.write_number(r, c, value[0], fmt[value[1]])
            elif isinstance(value, bool):
                ws.write_boolean(r, c, value)
            elif isinstance(value, str):
                ws.write_string(r, c, value)
            else:
                ws.write_number(r, c, value)
    ws.write_string(6, 1, "Formulas")
    ws.write_formula(6, 2, "=2*21", None, 42)
    ws.write_formula(6, 3, '="a"&"b"', None, "ab")
    ws.write_formula(6, 4, "=1/0", None, "#DIV/0!")
    ws.write_formula(6, 5, "=NA()", None, "#N/A")
    ws.write_formula(6, 6, "=1=1", None, True)
    bold = wb.add_format({"bold": True})
    ws.write_rich_string(7, 1, "rich ", bold, "bold", " text")
    ws.write_string(7, 2, "x" * 32767)
    # A merged range: its value shows once, in its top-left cell.
    ws.merge_range(8, 1, 9, 2, "merged", bold)
    ws.write_string(9, 3, "after merge")
    # Formatted cells without values reach column J: they do not widen the text.
    ws.write_blank(11, 9, None, bold)
    ws.write_blank(12, 9, None, bold)
    wb.close()


def sheets_xlsx():
    """Visible, hidden and chart sheets; the last one active."""
    import xlsxwriter
    wb = xlsxwriter.Workbook(out("sheets.xlsx"))
    first = wb.add_worksheet("First")
    first.write_row(0, 0, ["a", 1])
    hidden = wb.add_worksheet("Hidden")
    hidden.write_string(0, 0, "secret")
    hidden.hide()
    chart = wb.add_chart({"type": "column"})
    chart.add_series({"values": "=First!$B$1:$B$1"})
    chartsheet = wb.add_chartsheet("Chart")
    chartsheet.set_chart(chart)
    last = wb.add_worksheet("Last")
    last.write_string(0, 0, "z")
    last.write_string(2, 1, "end")
    last.activate()
    wb.close()


def dates1904_xlsx():
    import xlsxwriter
    wb = xlsxwriter.Workbook(out("dates1904.xlsx"), {"date_1904": True})
    ws = wb.add_worksheet()
    date = wb.add_format({"num_format": "m/d/yyyy"})
    ws.write_datetime(0, 0, datetime.date(2024, 3, 14), date)
    ws.write_number(0, 1, 0, date)
    ws.write_number(0, 2, 1, date)
    ws.write_datetime(0, 3, datetime.date(2024, 3, 14))  # no format: the 1904 serial
    wb.close()


def macros_xlsm():
    """A macro-enabled workbook. The project is a stand-in: only its presence is checked."""
    import xlsxwriter
    with tempfile.TemporaryDirectory() as tmp:
        project = os.path.join(tmp, "vbaProject.bin")
        with open(project, "wb") as f:
            f.write(b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + b"\0" * 504)
        wb = xlsxwriter.Workbook(out("macros.xlsm"))
        ws = wb.add_worksheet()
        ws.write_string(0, 0, "macro book")
        wb.add_vba_project(project)
        wb.close()


def openpyxl_xlsx():
    """openpyxl stores formulas without results and can hide sheets entirely."""
    import openpyxl
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Calc"
    ws["A1"] = 2
    ws["B1"] = "=A1*2"  # no cached value: the cell shows nothing
    ws["C1"] = "after"
    ws.merge_cells("A3:B3")
    ws["A3"] = "wide"
    ws["C3"] = 3.25
    secret = wb.create_sheet("VeryHidden")
    secret["A1"] = "never shown"
    secret.sheet_state = "veryHidden"
    shown = wb.create_sheet("Shown")
    shown["B2"] = "b2"
    wb.save(out("openpyxl.xlsx"))


FODS = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 <office:automatic-styles>
  <number:date-style style:name="N1">
   <number:year number:style="long"/><number:text>-</number:text>
   <number:month number:style="long"/><number:text>-</number:text>
   <number:day number:style="long"/>
  </number:date-style>
  <number:percentage-style style:name="N2">
   <number:number number:decimal-places="1" number:min-integer-digits="1"/>
   <number:text>%</number:text>
  </number:percentage-style>
  <style:style style:name="ce1" style:family="table-cell" style:data-style-name="N1"/>
  <style:style style:name="ce2" style:family="table-cell" style:data-style-name="N2"/>
  <style:style style:name="ta1" style:family="table"><style:table-properties table:display="true"/></style:style>
  <style:style style:name="ta2" style:family="table"><style:table-properties table:display="false"/></style:style>
 </office:automatic-styles>
 <office:body>
  <office:spreadsheet>
   <table:table table:name="First" table:style-name="ta1">
    <table:table-row>
     <table:table-cell table:number-columns-spanned="2" table:number-rows-spanned="1" office:value-type="string"><text:p>merged</text:p></table:table-cell>
     <table:covered-table-cell office:value-type="string"><text:p>kept inside</text:p></table:covered-table-cell>
     <table:table-cell office:value-type="float" office:value="3"><text:p>3</text:p></table:table-cell>
    </table:table-row>
    <table:table-row>
     <table:table-cell office:value-type="string"><text:p>line one</text:p><text:p>line two</text:p></table:table-cell>
     <table:table-cell table:style-name="ce1" office:value-type="date" office:date-value="2024-03-14"><text:p>2024-03-14</text:p></table:table-cell>
     <table:table-cell table:style-name="ce2" office:value-type="percentage" office:value="0.125"><text:p>12.5%</text:p></table:table-cell>
    </table:table-row>
    <table:table-row>
     <table:table-cell office:value-type="boolean" office:boolean-value="true"><text:p>TRUE</text:p></table:table-cell>
     <table:table-cell office:value-type="float" office:value="0.1"><text:p>0.1</text:p></table:table-cell>
    </table:table-row>
   </table:table>
   <table:table table:name="Second" table:style-name="ta1">
    <table:table-row>
     <table:table-cell/>
     <table:table-cell office:value-type="string"><text:p>second</text:p></table:table-cell>
    </table:table-row>
   </table:table>
   <table:table table:name="Hidden" table:style-name="ta2">
    <table:table-row>
     <table:table-cell office:value-type="string"><text:p>hidden</text:p></table:table-cell>
    </table:table-row>
   </table:table>
  </office:spreadsheet>
 </office:body>
</office:document>
"""


def soffice_convert(source, target_ext, filter_name, tmp):
    """Converts with LibreOffice into tmp and returns the path of the result."""
    profile = "file://" + os.path.join(tmp, "profile")
    subprocess.run(["soffice", "-env:UserInstallation=" + profile, "--headless",
                    "--convert-to", target_ext + ":" + filter_name, "--outdir", tmp, source],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return os.path.join(tmp, os.path.splitext(os.path.basename(source))[0] + "." + target_ext)


def libreoffice_files():
    """LibreOffice's own .xlsx (it keeps the text of covered cells), and an .ods."""
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "libreoffice.fods")
        with open(source, "w", encoding="utf-8") as f:
            f.write(FODS)
        shutil.copy(soffice_convert(source, "xlsx", "Calc MS Excel 2007 XML", tmp),
                    out("libreoffice.xlsx"))
        shutil.copy(soffice_convert(source, "ods", "calc8", tmp), out("spreadsheet.ods"))


# --- put together part by part -----------------------------------------------------------------

def content_types(overrides, defaults=None):
    defaults = defaults or {"rels": "application/vnd.openxmlformats-package.relationships+xml",
                            "xml": "application/xml"}
    body = "".join(f'<Default Extension="{e}" ContentType="{t}"/>' for e, t in defaults.items())
    body += "".join(f'<Override PartName="/{p}" ContentType="{t}"/>' for p, t in overrides.items())
    return (XML_DECL + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            + body + "</Types>")


def relationships(rels):
    body = "".join(f'<Relationship Id="{i}" Type="{t}" Target="{target}"/>' for i, t, target in rels)
    return XML_DECL + f'<Relationships xmlns="{PKG_REL_NS}">' + body + "</Relationships>"


def write_package(name, parts, compression=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(out(name), "w", compression) as z:
        for part, data in parts.items():
            z.writestr(part, data.encode("utf-8") if isinstance(data, str) else data)


def simple_parts(sheet_xml, strings_xml=None, styles_xml=None, workbook_xml=None):
    """A plain one-sheet package around the given parts."""
    rel = REL_NS + "/"
    parts = {
        "[Content_Types].xml": content_types({"xl/workbook.xml": SHEET_MAIN_TYPE,
                                              "xl/worksheets/sheet1.xml": WORKSHEET_TYPE}),
        "_rels/.rels": relationships([("rId1", rel + "officeDocument", "xl/workbook.xml")]),
        "xl/workbook.xml": workbook_xml or (
            XML_DECL + f'<workbook xmlns="{MAIN_NS}" xmlns:r="{REL_NS}"><sheets>'
            '<sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>'),
        "xl/worksheets/sheet1.xml": sheet_xml,
    }
    rels = [("rId1", rel + "worksheet", "worksheets/sheet1.xml")]
    if strings_xml is not None:
        parts["xl/sharedStrings.xml"] = strings_xml
        rels.append(("rId2", rel + "sharedStrings", "sharedStrings.xml"))
    if styles_xml is not None:
        parts["xl/styles.xml"] = styles_xml
        rels.append(("rId3", rel + "styles", "styles.xml"))
    parts["xl/_rels/workbook.xml.rels"] = relationships(rels)
    return parts


def sheet(rows_xml, ns=MAIN_NS, prefix="", extra_before="", extra_after=""):
    p = prefix + ":" if prefix else ""
    decl = f'xmlns:{prefix}="{ns}"' if prefix else f'xmlns="{ns}"'
    return (XML_DECL + f'<{p}worksheet {decl} xmlns:r="{REL_NS}">{extra_before}'
            f"<{p}sheetData>{rows_xml}</{p}sheetData>{extra_after}</{p}worksheet>")


def prefixed_xlsx():
    """Every element with an "x:" prefix, as some .NET writers do; no dimension; rows and cells
    without references; inline and rich strings with phonetic runs; _xHHHH_ escapes; t="d"."""
    x = f'xmlns:x="{MAIN_NS}"'
    strings = (XML_DECL + f'<x:sst {x} count="7" uniqueCount="7">'
               "<x:si><x:t>plain</x:t></x:si>"
               '<x:si><x:r><x:rPr><x:b/></x:rPr><x:t>bold</x:t></x:r>'
               '<x:r><x:t xml:space="preserve"> and plain</x:t></x:r></x:si>'
               '<x:si><x:t>東京</x:t><x:rPh sb="0" eb="2"><x:t>トウキョウ</x:t></x:rPh>'
               '<x:phoneticPr fontId="1"/></x:si>'
               "<x:si><x:t>line1_x000D__x000A_line2</x:t></x:si>"
               "<x:si><x:t>keep _x005F_x0041_ literal</x:t></x:si>"
               '<x:si><x:t xml:space="preserve">  padded  </x:t></x:si>'
               "<x:si><x:t>_xD83D__xDE00_</x:t></x:si>"
               "</x:sst>")
    styles = (XML_DECL + f"<x:styleSheet {x}>"
              '<x:numFmts count="1"><x:numFmt numFmtId="164" formatCode="yyyy-mm-dd hh:mm"/></x:numFmts>'
              '<x:cellXfs count="3"><x:xf numFmtId="0"/><x:xf numFmtId="14"/><x:xf numFmtId="164"/></x:cellXfs>'
              "</x:styleSheet>")
    rows = ('<x:row><x:c t="s"><x:v>0</x:v></x:c><x:c t="s"><x:v>1</x:v></x:c></x:row>'
            '<x:row><x:c t="s"><x:v>2</x:v></x:c><x:c/><x:c t="s"><x:v>3</x:v></x:c></x:row>'
            '<x:row r="5"><x:c r="B5" t="inlineStr"><x:is><x:r><x:t>in</x:t></x:r><x:r><x:t>line</x:t></x:r>'
            "<x:rPh><x:t>x</x:t></x:rPh></x:is></x:c>"
            '<x:c t="str"><x:f>A1</x:f><x:v>tab_x0009_here</x:v></x:c></x:row>'
            '<x:row><x:c t="d" s="1"><x:v>2024-03-14</x:v></x:c>'
            '<x:c t="d" s="2"><x:v>2024-03-14T10:30:00</x:v></x:c>'
            '<x:c t="d"><x:v>1900-02-28</x:v></x:c><x:c t="s"><x:v>4</x:v></x:c></x:row>'
            '<x:row><x:c t="s"><x:v>5</x:v></x:c><x:c t="s"><x:v>6</x:v></x:c>'
            '<x:c t="b"><x:v>1</x:v></x:c><x:c t="e"><x:v>#N/A</x:v></x:c></x:row>')
    workbook = (XML_DECL + f'<x:workbook {x} xmlns:r="{REL_NS}"><x:sheets>'
                '<x:sheet name="Data" sheetId="1" r:id="rId1"/></x:sheets></x:workbook>')
    write_package("prefixed.xlsx", simple_parts(sheet(rows, prefix="x"), strings, styles, workbook))


def spaces_xlsx():
    """Whitespace at the ends of <t> without xml:space="preserve", which the spreadsheet
    application drops, and with it, which it keeps."""
    strings = (XML_DECL + f'<sst xmlns="{MAIN_NS}">'
               "<si><t>  trimmed\t</t></si>"
               '<si><t xml:space="preserve">  kept  </t></si>'
               "<si><r><t>hello</t></r><r><t> </t></r><r><t>world </t></r></si>"
               '<si xml:space="preserve"><t> inherited </t></si>'
               "<si><t>_x0020_escaped_x0020_</t></si>"
               "</sst>")
    rows = ('<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>'
            '<c r="C1" t="s"><v>2</v></c><c r="D1" t="s"><v>3</v></c><c r="E1" t="s"><v>4</v></c>'
            '<c r="F1" t="inlineStr"><is><t>\n  inline\n</t></is></c></row>')
    write_package("spaces.xlsx", simple_parts(sheet(rows), strings))


def codepage_xlsx():
    """A sheet part in a single-byte code page that expat does not know by itself."""
    body = ('<?xml version="1.0" encoding="windows-1252"?>\n'
            f'<worksheet xmlns="{MAIN_NS}"><sheetData><row r="1">'
            '<c r="A1" t="inlineStr"><is><t>café 20€ – “quoted”</t></is></c>'
            "</row></sheetData></worksheet>")
    parts = simple_parts("")
    parts["xl/worksheets/sheet1.xml"] = body.encode("cp1252")
    write_package("codepage.xlsx", parts)


def formulas_xlsx():
    """Formulas as spreadsheets store them: shared and array formulas whose followers carry only
    a reference to the master and their cached value; a formula without a cached value; an empty
    string result; an error result."""
    rows = ('<row r="1"><c r="A1"><v>1</v></c><c r="B1"><f t="shared" ref="B1:B3" si="0">A1*2</f>'
            '<v>2</v></c><c r="C1"><f t="array" ref="C1:C2">A1:A2*10</f><v>10</v></c></row>'
            '<row r="2"><c r="A2"><v>2</v></c><c r="B2"><f t="shared" si="0"/><v>4</v></c>'
            '<c r="C2"><v>20</v></c></row>'
            '<row r="3"><c r="A3"><v>3</v></c><c r="B3"><f t="shared" si="0"/><v>6</v></c>'
            '<c r="C3"><f>NOW()</f></c><c r="D3" t="str"><f>""</f><v></v></c>'
            '<c r="E3" t="e"><f>1/0</f><v>#DIV/0!</v></c></row>')
    write_package("formulas.xlsx", simple_parts(sheet(rows, extra_before='<dimension ref="A1:E3"/>')))


def strict_xlsx():
    """Strict OOXML: other namespace and relationship URIs, parts where the relationships say
    (a folder "wb", a percent-escaped name), the 1904 date system, the third sheet active."""
    rel = STRICT_REL_NS + "/"
    workbook = (XML_DECL + f'<workbook xmlns="{STRICT_MAIN_NS}" xmlns:r="{STRICT_REL_NS}" '
                'conformance="strict"><workbookPr date1904="true"/>'
                '<bookViews><workbookView activeTab="2"/></bookViews><sheets>'
                '<sheet name="One" sheetId="1" r:id="rIdA"/>'
                '<sheet name="Two" sheetId="2" state="hidden" r:id="rIdB"/>'
                '<sheet name="Three" sheetId="3" r:id="rIdC"/></sheets></workbook>')
    styles = (XML_DECL + f'<styleSheet xmlns="{STRICT_MAIN_NS}">'
              '<cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="14"/></cellXfs></styleSheet>')
    strings = (XML_DECL + f'<sst xmlns="{STRICT_MAIN_NS}"><si><t>strict text</t></si></sst>')
    one = sheet('<row r="1"><c r="A1" s="1"><v>0</v></c><c r="B1" s="1"><v>1</v></c>'
                '<c r="C1" s="1" t="d"><v>2024-03-14</v></c><c r="D1"><v>1.5</v></c></row>'
                '<row r="2"><c r="A2" t="s"><v>0</v></c></row>', ns=STRICT_MAIN_NS)
    two = sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>two</t></is></c></row>',
                ns=STRICT_MAIN_NS)
    three = sheet('<row r="2"><c r="C2" t="inlineStr"><is><t>three</t></is></c></row>',
                  ns=STRICT_MAIN_NS)
    parts = {
        "[Content_Types].xml": content_types({"wb/book.xml": SHEET_MAIN_TYPE}),
        "_rels/.rels": relationships([("r1", rel + "officeDocument", "/wb/book.xml")]),
        "wb/book.xml": workbook,
        "wb/_rels/book.xml.rels": relationships([
            ("rIdA", rel + "worksheet", "sheets/my%20sheet.xml"),
            ("rIdB", rel + "worksheet", "./sheets/../sheets/two.xml"),
            ("rIdC", rel + "worksheet", "/wb/sheets/three.xml"),
            ("rIdS", rel + "sharedStrings", "strings.xml"),
            ("rIdY", rel + "styles", "look.xml")]),
        "wb/sheets/my sheet.xml": one,
        "wb/sheets/two.xml": two,
        "wb/sheets/three.xml": three,
        "wb/strings.xml": strings,
        "wb/look.xml": styles,
    }
    write_package("strict.xlsx", parts)


def disorder_xlsx():
    """Rows out of order, cells out of order and one cell twice (the later one counts)."""
    rows = ('<row r="3"><c r="A3" t="inlineStr"><is><t>z</t></is></c></row>'
            '<row r="1"><c r="C1" t="inlineStr"><is><t>c</t></is></c>'
            '<c r="A1" t="inlineStr"><is><t>a1</t></is></c>'
            '<c r="B1" t="inlineStr"><is><t>b</t></is></c>'
            '<c r="A1" t="inlineStr"><is><t>a2</t></is></c></row>'
            '<row r="2"><c r="A2" t="inlineStr"><is><t>x</t></is></c></row>')
    write_package("disorder.xlsx",
                  simple_parts(sheet(rows, extra_before='<dimension ref="A1:C3"/>')))


def merges_xlsx():
    """Merged ranges over cells that still hold values, as LibreOffice can leave them; the
    covered value is the rightmost one, so the width shrinks once the merge is known; and a
    dimension that claims too little."""
    rows = ('<row r="1"><c r="A1" t="inlineStr"><is><t>top</t></is></c>'
            '<c r="B1" t="inlineStr"><is><t>hidden</t></is></c>'
            '<c r="C1" t="inlineStr"><is><t>hidden too</t></is></c></row>'
            '<row r="2"><c r="A2"><v>1</v></c><c r="B2"><v>2</v></c></row>'
            '<row r="3"><c r="B3"><v>3</v></c><c r="C3"><v>4</v></c></row>')
    merges = '<mergeCells count="2"><mergeCell ref="A1:C1"/><mergeCell ref="B3:C3"/></mergeCells>'
    write_package("merges.xlsx", simple_parts(sheet(rows, extra_before='<dimension ref="A1:B1"/>',
                                                    extra_after=merges)))


# --- damaged and hostile -----------------------------------------------------------------------

def damaged_files():
    with open(out("types.xlsx"), "rb") as f:
        whole = f.read()
    with open(out("truncated.xlsx"), "wb") as f:
        f.write(whole[: len(whole) * 2 // 3])

    # Broken XML on line 4 of the sheet.
    broken = XML_DECL + f'<worksheet xmlns="{MAIN_NS}">\n<sheetData>\n<row r="1"><c r="A1"><v>1</v></row>\n</sheetData></worksheet>'
    write_package("badxml.xlsx", simple_parts(broken))

    # A cell pointing past the shared strings.
    strings = XML_DECL + f'<sst xmlns="{MAIN_NS}"><si><t>only</t></si></sst>'
    write_package("badstring.xlsx",
                  simple_parts(sheet('<row r="1"><c r="A1" t="s"><v>5</v></c></row>'), strings))

    # Billion laughs in the workbook part: expat refuses the expansion.
    laughs = '<!DOCTYPE workbook [<!ENTITY l0 "hahahahahahahahahahaha">'
    for i in range(1, 10):
        laughs += f'<!ENTITY l{i} "' + f"&l{i - 1};" * 10 + '">'
    laughs += "]>"
    workbook = (XML_DECL + laughs + f'<workbook xmlns="{MAIN_NS}" xmlns:r="{REL_NS}"><sheets>'
                '<sheet name="&l9;" sheetId="1" r:id="rId1"/></sheets></workbook>')
    write_package("laughs.xlsx", simple_parts(sheet(""), workbook_xml=workbook))

    # An external entity: never fetched, whatever it names.
    external = (XML_DECL + '<!DOCTYPE worksheet [<!ENTITY secret SYSTEM "file:///etc/hostname">]>'
                + f'<worksheet xmlns="{MAIN_NS}"><sheetData><row r="1">'
                '<c r="A1" t="inlineStr"><is><t>before&secret;after</t></is></c>'
                "</row></sheetData></worksheet>")
    write_package("external.xlsx", simple_parts(external))

    # A zip bomb: 64 MB of zeros in a 64 kB file, more than any workbook inflates to.
    bomb = simple_parts(sheet('<row r="1"><c r="A1"><v>1</v></c></row>'))
    bomb["xl/media/padding.bin"] = b"\0" * (64 << 20)
    write_package("bomb.xlsx", bomb)

    # An entry that inflates past the size its directory declares.
    lying = simple_parts(sheet('<row r="1"><c r="A1"><v>1</v></c></row>' * 1))
    lying["xl/worksheets/sheet1.xml"] = sheet("".join(
        f'<row r="{r}"><c r="A{r}"><v>{r}</v></c></row>' for r in range(1, 2001)))
    write_package("lying.xlsx", lying)
    patch_declared_size("lying.xlsx", "xl/worksheets/sheet1.xml", 1000)


def patch_declared_size(name, entry, size):
    """Rewrites the uncompressed size of one entry in its local header and in the directory."""
    path = out(name)
    with open(path, "rb") as f:
        data = bytearray(f.read())
    with zipfile.ZipFile(io.BytesIO(bytes(data))) as z:
        info = z.getinfo(entry)
    # Local header: size at offset 22.
    struct.pack_into("<I", data, info.header_offset + 22, size)
    # Central directory: find the entry's record by its name.
    record = data.find(b"PK\x01\x02" + b"", 0)
    while record >= 0:
        name_len = struct.unpack_from("<H", data, record + 28)[0]
        if bytes(data[record + 46: record + 46 + name_len]) == entry.encode():
            struct.pack_into("<I", data, record + 24, size)
            break
        record = data.find(b"PK\x01\x02", record + 4)
    with open(path, "wb") as f:
        f.write(data)


# --- not workbooks -----------------------------------------------------------------------------

def other_files():
    with open(out("empty.xlsx"), "wb"):
        pass
    with open(out("table.csv"), "w", encoding="utf-8") as f:
        f.write("name,value\nalpha,1\nbeta,2\n")
    with open(out("page.xls"), "w", encoding="utf-8") as f:
        # What web sites hand out as "Excel" downloads.
        f.write("<html><body><table><tr><td>1</td></tr></table></body></html>\n")
    with zipfile.ZipFile(out("archive.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("readme.txt", "just files\n")
    # A word-processing package (LibreOffice's Writer is not installed with Calc alone, so it is
    # put together here).
    word_main = "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"
    write_package("document.docx", {
        "[Content_Types].xml": content_types({"word/document.xml": word_main}),
        "_rels/.rels": relationships([("rId1", REL_NS + "/officeDocument", "word/document.xml")]),
        "word/document.xml": XML_DECL + '<w:document xmlns:w="http://schemas.openxmlformats.org/'
                             'wordprocessingml/2006/main"><w:body><w:p><w:r><w:t>Dear reader'
                             "</w:t></w:r></w:p></w:body></w:document>"})
    binary = simple_parts(sheet(""))
    binary["[Content_Types].xml"] = content_types(
        {"xl/workbook.bin": "application/vnd.ms-excel.sheet.binary.macroEnabled.main"})
    binary["_rels/.rels"] = relationships([(
        "rId1", REL_NS + "/officeDocument", "xl/workbook.bin")])
    binary["xl/workbook.bin"] = b"\x83\x01\x00"
    write_package("binary.xlsb", binary)


def fuzz_seeds():
    """The seed corpus of tests/fuzz/fuzz_xlsx: some fixtures as they are, and the parts of
    others joined by NUL bytes, the form in which the fuzz target stores them uncompressed."""
    corpus = os.path.join(HERE, "..", "..", "fuzz", "corpus", "fuzz_xlsx")
    os.makedirs(corpus, exist_ok=True)
    for name in ["types.xlsx", "sheets.xlsx", "dates1904.xlsx", "openpyxl.xlsx",
                 "libreoffice.xlsx", "prefixed.xlsx", "strict.xlsx", "disorder.xlsx",
                 "merges.xlsx", "badstring.xlsx", "external.xlsx"]:
        shutil.copy(out(name), os.path.join(corpus, name))
    order = ["xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/styles.xml",
             "xl/workbook.xml", "xl/_rels/workbook.xml.rels"]
    for name in ["types.xlsx", "prefixed.xlsx", "disorder.xlsx", "merges.xlsx", "badstring.xlsx"]:
        with zipfile.ZipFile(out(name)) as z:
            names = set(z.namelist())
            parts = [z.read(p) if p in names else b"" for p in order]
        with open(os.path.join(corpus, "parts-" + name.replace(".xlsx", "")), "wb") as f:
            f.write(b"\0".join(parts))


def main():
    os.makedirs(OUT, exist_ok=True)
    types_xlsx()
    sheets_xlsx()
    dates1904_xlsx()
    macros_xlsm()
    openpyxl_xlsx()
    libreoffice_files()
    prefixed_xlsx()
    spaces_xlsx()
    codepage_xlsx()
    formulas_xlsx()
    strict_xlsx()
    disorder_xlsx()
    merges_xlsx()
    damaged_files()
    other_files()
    fuzz_seeds()


if __name__ == "__main__":
    main()
