#!/usr/bin/python3
"""Makes the .xls test fixtures of tests/sheets/xls/fixtures.

Run with Debian's python (/usr/bin/python3: python3-xlsxwriter, python3-uno, LibreOffice):
    /usr/bin/python3 tests/sheets/xls/make_fixtures.py
The outputs are committed; run this again only to change them.
"""

import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import cfbwriter  # noqa: E402

OUT = os.path.join(HERE, "fixtures")


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def encrypted_ooxml():
    # How the application stores a password-protected .xlsx: a compound file with the
    # encryption parameters and the encrypted zip package. The reader only has to recognise
    # it, so the package bytes need not decrypt to anything.
    info = struct.pack("<HHI", 4, 4, 0x40) + b'<?xml version="1.0"?><encryption/>'
    package = struct.pack("<Q", 4000) + bytes((i * 7) & 0xFF for i in range(4096))
    write("encrypted-ooxml.xlsx", cfbwriter.write_cfb(
        {"EncryptionInfo": info, "EncryptedPackage": package}))


def main():
    os.makedirs(OUT, exist_ok=True)
    encrypted_ooxml()


if __name__ == "__main__":
    main()
