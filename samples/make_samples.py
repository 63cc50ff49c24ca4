#!/usr/bin/python3
"""Makes the project's own sample workbooks in samples/ (the readxl ones come from elsewhere,
see README.md).

    /usr/bin/python3 samples/make_samples.py

Needs python3-xlsxwriter (Debian). Formulas are stored with their results, as a spreadsheet
application saves them, so that the text shows the values.
"""
import datetime
import decimal
import os

import xlsxwriter

HERE = os.path.dirname(os.path.abspath(__file__))


def excel_round(value, digits):
    """ROUND as the spreadsheet computes it: half away from zero on the decimal value."""
    step = decimal.Decimal(1).scaleb(-digits)
    return float(decimal.Decimal(repr(value)).quantize(step, rounding=decimal.ROUND_HALF_UP))


def orders():
    """A small order book: dates, money, percentages, formulas, a hidden sheet of notes and a
    summary sheet that is the active one."""
    wb = xlsxwriter.Workbook(os.path.join(HERE, "tabulix-orders.xlsx"))
    bold = wb.add_format({"bold": True})
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    money = wb.add_format({"num_format": "#,##0.00"})
    percent = wb.add_format({"num_format": "0.0%"})

    ws = wb.add_worksheet("Orders")
    ws.write_row(0, 0, ["Order", "Date", "Customer", "Quantity", "Unit price", "Discount",
                        "Total", "Paid"], bold)
    rows = [
        (1001, datetime.date(2024, 1, 15), "Northwind Traders", 12, 19.5, 0.0, True),
        (1002, datetime.date(2024, 1, 17), "Contoso, Ltd.", 250, 3.75, 0.05, True),
        (1003, datetime.date(2024, 2, 2), "Fabrikam", 1, 1299.0, 0.125, False),
        (1004, datetime.date(2024, 2, 29), "Tailspin Toys", 40, 0.99, 0.0, False),
    ]
    for i, (order, day, customer, qty, price, discount, paid) in enumerate(rows, start=1):
        ws.write_number(i, 0, order)
        ws.write_datetime(i, 1, day, date)
        ws.write_string(i, 2, customer)
        ws.write_number(i, 3, qty)
        ws.write_number(i, 4, price, money)
        ws.write_number(i, 5, discount, percent)
        total = excel_round(qty * price * (1 - discount), 2)
        ws.write_formula(i, 6, "=ROUND(D%d*E%d*(1-F%d),2)" % (i + 1, i + 1, i + 1), money, total)
        ws.write_boolean(i, 7, paid)
    # Row 6 stays empty; a note below it.
    ws.write_string(6, 0, "Prices without VAT")

    summary = wb.add_worksheet("Summary")
    summary.merge_range(0, 0, 0, 1, "Orders in 2024", bold)
    summary.write_string(1, 0, "Orders")
    summary.write_formula(1, 1, "=COUNT(Orders!A2:A5)", None, 4)
    summary.write_string(2, 0, "Revenue")
    revenue = sum(excel_round(q * p * (1 - d), 2) for _, _, _, q, p, d, _ in rows)
    summary.write_formula(2, 1, "=SUM(Orders!G2:G5)", money, revenue)
    summary.write_string(3, 0, "Unpaid")
    summary.write_formula(3, 1, "=COUNTIF(Orders!H2:H5,FALSE)", None, 2)
    summary.activate()

    notes = wb.add_worksheet("Notes")
    notes.write_string(0, 0, "internal: not part of the export")
    notes.hide()
    wb.close()


def texts():
    """Texts a plain-text export has to get right: other scripts, line breaks, tabs and quotes
    inside cells, numbers kept as text, long numbers, times, a table that starts at B2."""
    wb = xlsxwriter.Workbook(os.path.join(HERE, "tabulix-texts.xlsx"))
    ws = wb.add_worksheet("Texts")
    time = wb.add_format({"num_format": "h:mm AM/PM"})
    elapsed = wb.add_format({"num_format": "[h]:mm"})
    text = wb.add_format({"num_format": "@"})
    ws.write_row(1, 1, ["Name", "Comment", "Code", "Measure", "Started", "Duration"])
    ws.write_row(2, 1, ["Zoë Ünal", "line one\nline two", "00123"])
    ws.write_number(2, 4, 123456789012)
    ws.write_number(2, 5, 0.5625, time)
    ws.write_number(2, 6, 1.75, elapsed)
    ws.write_row(3, 1, ["東京 (Tōkyō)", 'She said "hi"\tand left', "A-7"])
    ws.write_number(3, 4, 0.1 + 0.2)
    ws.write_number(3, 5, 0.0, time)
    ws.write_number(3, 6, 0.0416666666666667, elapsed)
    ws.write_row(4, 1, ["Ελληνικά", "€ 5 · naïve café"])
    ws.write_string(4, 3, "007", text)
    ws.write_number(4, 4, 1.5e20)
    wb.close()


if __name__ == "__main__":
    orders()
    texts()
