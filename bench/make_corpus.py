#!/usr/bin/python3
"""Writes the benchmark corpus: many small workbooks and one large one, with mixed cells.

Usage: bench/make_corpus.py [--out bench/corpus] [--small 300] [--rows 200] [--cols 12]
                            [--large-rows 300000] [--large-cols 15] [--seed 4]

The same seed always gives the same cells, so timings from different days compare.
Output: OUT/small/book-NNN.xlsx and OUT/large/large.xlsx (skipped with --large-rows 0).
Needs Debian's python3-xlsxwriter; run it with /usr/bin/python3.
"""

import argparse
import datetime
import os
import random

import xlsxwriter

WORDS = ["alpha", "beta", "gamma", "delta", "epsilon", "North", "South", "East", "West",
         "Widget", "Gadget", "Sprocket", "open", "closed", "pending", "Zürich", "Kraków",
         "São Paulo", "東京", "Ελλάδα", "red", "green", "blue", "n/a", "tbd"]


def string_pool(rnd, size):
    """A pool of strings that the cells repeat, so the shared-string table stays small."""
    pool = []
    for i in range(size):
        words = rnd.sample(WORDS, rnd.randint(1, 3))
        pool.append(" ".join(words) + ("" if i % 3 else f" #{i}"))
    return pool


class Mix:
    """The formats and the rule that picks what goes in a column."""

    def __init__(self, book):
        self.money = book.add_format({"num_format": "#,##0.00"})
        self.percent = book.add_format({"num_format": "0.0%"})
        self.date = book.add_format({"num_format": "m/d/yyyy"})
        self.stamp = book.add_format({"num_format": "yyyy-mm-dd hh:mm:ss"})
        self.fixed = book.add_format({"num_format": "0.000"})

    def write_row(self, sheet, rnd, pool, row, cols):
        base = datetime.date(2000, 1, 1)
        for col in range(cols):
            if rnd.random() < 0.03:  # a few empty cells
                continue
            kind = col % 10
            if kind == 0:
                sheet.write_number(row, col, rnd.randint(-100000, 1000000))
            elif kind == 1:
                sheet.write_number(row, col, round(rnd.uniform(-1e6, 1e6), 2), self.money)
            elif kind == 2:
                sheet.write_number(row, col, rnd.random(), self.percent)
            elif kind == 3:
                day = base + datetime.timedelta(days=rnd.randint(0, 9000))
                sheet.write_datetime(row, col, datetime.datetime(day.year, day.month, day.day),
                                     self.date)
            elif kind == 4:
                sheet.write_string(row, col, rnd.choice(pool))
            elif kind == 5:
                sheet.write_boolean(row, col, rnd.random() < 0.5)
            elif kind == 6:
                # A formula with its cached result, as spreadsheets store it.
                a, b = rnd.randint(1, 999), rnd.randint(1, 999)
                sheet.write_formula(row, col, f"={a}*{b}", None, a * b)
            elif kind == 7:
                sheet.write_number(row, col, rnd.uniform(0, 1000))  # General, many digits
            elif kind == 8:
                sheet.write_string(row, col, rnd.choice(pool))
            else:
                stamp = datetime.datetime(2020, 1, 1) + datetime.timedelta(
                    seconds=rnd.randint(0, 10 ** 8))
                sheet.write_datetime(row, col, stamp, self.stamp if col % 2 else self.fixed)


def make_book(path, rnd, rows, cols, sheets=1):
    book = xlsxwriter.Workbook(path)
    mix = Mix(book)
    pool = string_pool(rnd, 60)
    for s in range(sheets):
        sheet = book.add_worksheet(f"Data{s + 1}")
        for c in range(cols):
            sheet.write_string(0, c, f"Column {c + 1}")
        for r in range(1, rows):
            mix.write_row(sheet, rnd, pool, r, cols)
    book.close()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=os.path.join(here, "corpus"))
    ap.add_argument("--small", type=int, default=300)
    ap.add_argument("--rows", type=int, default=200)
    ap.add_argument("--cols", type=int, default=12)
    ap.add_argument("--large-rows", type=int, default=300000)
    ap.add_argument("--large-cols", type=int, default=15)
    ap.add_argument("--seed", type=int, default=4)
    args = ap.parse_args()

    rnd = random.Random(args.seed)
    small = os.path.join(args.out, "small")
    os.makedirs(small, exist_ok=True)
    for i in range(args.small):
        make_book(os.path.join(small, f"book-{i + 1:03d}.xlsx"), rnd, args.rows, args.cols)
    if args.large_rows > 0:
        large = os.path.join(args.out, "large")
        os.makedirs(large, exist_ok=True)
        make_book(os.path.join(large, "large.xlsx"), rnd, args.large_rows, args.large_cols)


if __name__ == "__main__":
    main()
