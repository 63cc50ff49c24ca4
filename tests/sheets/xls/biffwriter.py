"""Hand-made BIFF8 and BIFF5 workbook streams for the cases no office program writes on demand:
cells out of order, strings split across CONTINUE records with a change of width, every kind of
RK number, BIFF5 code pages, embedded substreams, damaged records, encryption by method."""

import hashlib
import struct

# Record types ([MS-XLS] 2.3).
FORMULA, EOF, DATEMODE, FILEPASS, CONTINUE, WINDOW1, CODEPAGE = 0x06, 0x0A, 0x22, 0x2F, 0x3C, 0x3D, 0x42
WSBOOL, BOUNDSHEET, MULRK, MULBLANK, RSTRING, XF = 0x81, 0x85, 0xBD, 0xBE, 0xD6, 0xE0
INTERFACEHDR, MERGECELLS, SST, LABELSST = 0xE1, 0xE5, 0xFC, 0xFD
DIMENSIONS, BLANK, NUMBER, LABEL, BOOLERR, STRING, RK, FORMAT, BOF = \
    0x200, 0x201, 0x203, 0x204, 0x205, 0x207, 0x27E, 0x41E, 0x809
MAX_DATA = 8224


def record(rtype, data=b""):
    return struct.pack("<HH", rtype, len(data)) + bytes(data)


def bof(dt, biff8=True):
    if biff8:
        return record(BOF, struct.pack("<HHHHII", 0x0600, dt, 0x0DBB, 0x07CC, 0, 0x0006))
    return record(BOF, struct.pack("<HHHH", 0x0500, dt, 0x0DBB, 0x07CC))


def fits_latin1(text):
    return all(ord(c) < 256 for c in text)


def utf16_units(text):
    return len(text.encode("utf-16-le")) // 2


def xlu(text, length_bytes=2):
    """XLUnicodeString: character count, a flag byte, then 8- or 16-bit characters."""
    if fits_latin1(text):
        body = text.encode("latin-1")
        flags = 0
    else:
        body = text.encode("utf-16-le")
        flags = 1
    count = utf16_units(text) if flags else len(text)
    fmt = "<H" if length_bytes == 2 else "<B"
    return struct.pack(fmt, count) + bytes([flags]) + body


def rk_number(value):
    """The RkNumber for value, or None when it has none."""
    for x100 in (False, True):
        v = value * 100 if x100 else value
        if x100 and abs(round(v) / 100 - value) > 0:
            continue
        if float(v).is_integer() and -(1 << 29) <= v < (1 << 29):
            return ((int(v) << 2) & 0xFFFFFFFF) | 2 | (1 if x100 else 0)
        bits = struct.unpack("<Q", struct.pack("<d", v))[0]
        if bits & 0x3FFFFFFFF == 0:
            return (bits >> 32) & 0xFFFFFFFC | (1 if x100 else 0)
    return None


def continued(rtype, data, first_limit=MAX_DATA):
    """Splits data into a record and CONTINUE records, without regard for its structure."""
    out = record(rtype, data[:first_limit])
    rest = data[first_limit:]
    while rest:
        out += record(CONTINUE, rest[:MAX_DATA])
        rest = rest[MAX_DATA:]
    return out


def sst(strings, limit=MAX_DATA, rich=None):
    """An SST record and its CONTINUE records, split the way the application splits them: a
    string whose characters cross a record boundary goes on in the next record after a fresh
    flag byte, and each piece is stored 8-bit when all its characters allow it. rich maps a
    string index to (runs, ext_bytes): formatting runs and a phonetic block that follow it."""
    rich = rich or {}
    records = []
    cur = bytearray(struct.pack("<II", len(strings), len(strings)))
    kind = [SST]

    def flush():
        records.append((kind[0], bytes(cur)))
        cur.clear()
        kind[0] = CONTINUE

    for i, text in enumerate(strings):
        runs, ext = rich.get(i, (0, b""))
        raw = text.encode("utf-16-le")
        units = [struct.unpack_from("<H", raw, k)[0] for k in range(0, len(raw), 2)]
        flags = (0x08 if runs else 0) | (0x04 if ext else 0)
        header = 3 + (2 if runs else 0) + (4 if ext else 0)
        # The header and the first character never part.
        if len(cur) + header + 2 > limit:
            flush()
        first = True
        while first or units:
            room = limit - len(cur) - (header if first else 1)
            narrow = min(room, len(units))
            if all(u < 256 for u in units[:narrow]):
                wide, n = False, narrow
            else:
                wide, n = True, min(room // 2, len(units))
            piece = units[:n]
            if first:
                cur.extend(struct.pack("<HB", len(units), flags | (1 if wide else 0)))
                if runs:
                    cur.extend(struct.pack("<H", runs))
                if ext:
                    cur.extend(struct.pack("<I", len(ext)))
                first = False
            else:
                cur.append(1 if wide else 0)
            cur.extend(b"".join(struct.pack("<H", u) for u in piece) if wide else bytes(piece))
            units = units[n:]
            if units:
                flush()
        # Runs and the phonetic block may cross a boundary too, with no flag byte.
        tail = b"".join(struct.pack("<HH", k, 0) for k in range(runs)) + ext
        while tail:
            room = limit - len(cur)
            if room <= 0:
                flush()
                continue
            cur.extend(tail[:room])
            tail = tail[room:]
    flush()
    return b"".join(record(k, d) for k, d in records)


class Sheet:
    def __init__(self, name, cells=(), hidden=0, kind=0, bof_type=0x10, extra=b"", dialog=False,
                 merges=(), dimensions=None):
        self.name = name
        self.records = list(cells)  # already-encoded cell records, in file order
        self.hidden = hidden
        self.kind = kind
        self.bof_type = bof_type
        self.extra = extra  # records placed before the cells
        self.dialog = dialog
        self.merges = merges
        self.dimensions = dimensions


def number(row, col, value, xf=0):
    return record(NUMBER, struct.pack("<HHHd", row, col, xf, value))


def rk(row, col, rkvalue, xf=0):
    return record(RK, struct.pack("<HHHI", row, col, xf, rkvalue))


def mulrk(row, col, values, xf=0):
    body = b"".join(struct.pack("<HI", xf, v) for v in values)
    return record(MULRK, struct.pack("<HH", row, col) + body +
                  struct.pack("<H", col + len(values) - 1))


def blank(row, col, xf=0):
    return record(BLANK, struct.pack("<HHH", row, col, xf))


def mulblank(row, col, xfs):
    return record(MULBLANK, struct.pack("<HH", row, col) +
                  b"".join(struct.pack("<H", x) for x in xfs) +
                  struct.pack("<H", col + len(xfs) - 1))


def labelsst(row, col, index, xf=0):
    return record(LABELSST, struct.pack("<HHHI", row, col, xf, index))


def label8(row, col, text, xf=0):
    return record(LABEL, struct.pack("<HHH", row, col, xf) + xlu(text))


def label5(row, col, raw, xf=0):
    return record(LABEL, struct.pack("<HHHH", row, col, xf, len(raw)) + raw)


def rstring8(row, col, text, xf=0):
    runs = struct.pack("<H", 1) + struct.pack("<HH", 0, 1)
    return record(RSTRING, struct.pack("<HHH", row, col, xf) + xlu(text) + runs)


def boolerr(row, col, value, is_error, xf=0):
    return record(BOOLERR, struct.pack("<HHHBB", row, col, xf, value, 1 if is_error else 0))


def formula(row, col, result, xf=0):
    """result: a float, or ("str",), ("bool", b), ("err", code), ("empty",)."""
    if isinstance(result, float):
        value = struct.pack("<d", result)
    else:
        kind = {"str": 0, "bool": 1, "err": 2, "empty": 3}[result[0]]
        extra = result[1] if len(result) > 1 else 0
        value = struct.pack("<BBBBBBH", kind, 0, extra, 0, 0, 0, 0xFFFF)
    # Flags, chn, then a token array of one ptgInt 1.
    tokens = bytes([0x1E, 1, 0])
    return record(FORMULA, struct.pack("<HHH", row, col, xf) + value +
                  struct.pack("<HIH", 0, 0, len(tokens)) + tokens)


def string8(text, limit=MAX_DATA):
    """The STRING record after a formula; long text continues in CONTINUE records, each piece
    with its own flag byte."""
    data = xlu(text)
    if len(data) <= limit:
        return record(STRING, data)
    wide = not fits_latin1(text)
    head = data[:3]
    body = data[3:]
    step = 2 if wide else 1
    first = (limit - 3) // step * step
    out = record(STRING, head + body[:first])
    body = body[first:]
    while body:
        piece_len = (limit - 1) // step * step
        out += record(CONTINUE, bytes([1 if wide else 0]) + body[:piece_len])
        body = body[piece_len:]
    return out


def sheet_stream(sheet, biff8):
    out = bof(sheet.bof_type, biff8)
    out += sheet.extra
    if sheet.dialog:
        out += record(WSBOOL, struct.pack("<H", 0x0411))
    elif sheet.bof_type == 0x10:
        out += record(WSBOOL, struct.pack("<H", 0x04C1))
    if sheet.dimensions is not None:
        r0, c0, r1, c1 = sheet.dimensions
        if biff8:
            out += record(DIMENSIONS, struct.pack("<IIHHH", r0, r1 + 1, c0, c1 + 1, 0))
        else:
            out += record(DIMENSIONS, struct.pack("<HHHHH", r0, r1 + 1, c0, c1 + 1, 0))
    out += b"".join(sheet.records)
    if sheet.merges:
        out += record(MERGECELLS, struct.pack("<H", len(sheet.merges)) + b"".join(
            struct.pack("<HHHH", r0, r1, c0, c1) for r0, c0, r1, c1 in sheet.merges))
    out += record(EOF)
    return out


def workbook(sheets, biff8=True, strings=None, formats=(), xf_formats=(0,), codepage=None,
             date1904=False, active=0, globals_extra=b"", sst_records=None, vba_module=False):
    """A whole workbook stream. formats: (ifmt, code); xf_formats: the ifmt of each XF."""
    head = bof(0x0005, biff8)
    head += record(INTERFACEHDR, struct.pack("<H", 0x04B0) if biff8 else b"")
    cp = codepage if codepage is not None else (1200 if biff8 else 1252)
    head += record(CODEPAGE, struct.pack("<H", cp))
    head += record(WINDOW1, struct.pack("<HHHHHHHHH", 0, 0, 0x4000, 0x2000, 0x38, active, 0, 1,
                                        0x258))
    head += record(DATEMODE, struct.pack("<H", 1 if date1904 else 0))
    head += globals_extra
    for ifmt, code in formats:
        if biff8:
            head += record(FORMAT, struct.pack("<H", ifmt) + xlu(code))
        else:
            raw = code.encode("cp1252")
            head += record(FORMAT, struct.pack("<HB", ifmt, len(raw)) + raw)
    for ifmt in xf_formats:
        size = 16 if biff8 else 12
        head += record(XF, struct.pack("<HH", 0, ifmt) + b"\0" * size)

    def sheet_names():
        out = []
        for s in sheets:
            if biff8:
                out.append(xlu(s.name, length_bytes=1))
            else:
                raw = s.name.encode("cp1252") if isinstance(s.name, str) else s.name
                out.append(struct.pack("<B", len(raw)) + raw)
        return out

    names = sheet_names()
    tail = b""
    if sst_records is not None:
        tail += sst_records
    elif strings is not None and biff8:
        tail += sst(strings)
    tail += record(EOF)
    bound_len = sum(4 + 6 + len(n) for n in names)
    pos = len(head) + bound_len + len(tail)
    bound = b""
    bodies = b""
    for s, n in zip(sheets, names):
        body = sheet_stream(s, biff8)
        bound += record(BOUNDSHEET, struct.pack("<IBB", pos, s.hidden, s.kind) + n)
        pos += len(body)
        bodies += body
    return head + bound + tail + bodies


# --- Encryption ([MS-XLS] 2.2.10, [MS-OFFCRYPTO] 2.3.5 and 2.3.6) -------------------------

def _rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for b in data:
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) & 0xFF])
    return bytes(out)


def _cryptoapi_key(password, salt, block, key_bits):
    h0 = hashlib.sha1(salt + password.encode("utf-16-le")).digest()
    h = hashlib.sha1(h0 + struct.pack("<I", block)).digest()
    if key_bits == 40:
        return h[:5] + b"\0" * 11
    return h[:key_bits // 8]


def _standard_key(password, salt, block):
    h0 = hashlib.md5(password.encode("utf-16-le")).digest()
    h1 = hashlib.md5((h0[:5] + salt) * 16).digest()
    return hashlib.md5(h1[:5] + struct.pack("<I", block)).digest()


PLAIN_RECORDS = {BOF, FILEPASS, 0x194, 0x195, INTERFACEHDR, 0x196, 0x138}


def encrypt(stream, password, method="cryptoapi", key_bits=40, salt=bytes(range(16))):
    """Inserts a FILEPASS after the first BOF and encrypts the stream as the application does.
    Sheet offsets in BOUNDSHEET move with the inserted record. Returns the encrypted stream and
    the plain one with its FILEPASS."""
    if method == "cryptoapi":
        keyfn = lambda block: _cryptoapi_key(password, salt, block, key_bits)  # noqa: E731
        verifier = bytes(range(100, 116))
        enc = _rc4(keyfn(0), verifier + hashlib.sha1(verifier).digest())
        csp = "Microsoft Enhanced Cryptographic Provider v1.0\0".encode("utf-16-le")
        header = struct.pack("<IIIIIIII", 0x04, 0, 0x6801, 0x8004, key_bits, 1, 0, 0) + csp
        filepass = struct.pack("<HHH", 1, 2, 2) + struct.pack("<II", 0x04, len(header)) + header
        filepass += struct.pack("<I", 16) + salt + enc[:16] + struct.pack("<I", 20) + enc[16:]
    elif method == "rc4":
        keyfn = lambda block: _standard_key(password, salt, block)  # noqa: E731
        verifier = bytes(range(100, 116))
        enc = _rc4(keyfn(0), verifier + hashlib.md5(verifier).digest())
        filepass = struct.pack("<HHH", 1, 1, 1) + salt + enc
    elif method == "xor":
        filepass = struct.pack("<HHH", 0, 0x1234, 0x5678)
        keyfn = None
    else:
        raise ValueError(method)
    fp = record(FILEPASS, filepass)
    first_len = 4 + struct.unpack_from("<H", stream, 2)[0]
    plain = bytearray(stream[:first_len] + fp + stream[first_len:])
    # Move the sheet offsets.
    pos = 0
    while pos < len(plain):
        rtype, size = struct.unpack_from("<HH", plain, pos)
        if rtype == BOUNDSHEET:
            old = struct.unpack_from("<I", plain, pos + 4)[0]
            struct.pack_into("<I", plain, pos + 4, old + len(fp))
        pos += 4 + size
    if keyfn is None:
        return bytes(plain), bytes(plain)
    # Encrypt in 1024-byte blocks of the stream; record headers and the listed records stay
    # plain but still use up key stream.
    mask = bytearray(len(plain))
    pos = 0
    seen_filepass = False
    while pos < len(plain):
        rtype, size = struct.unpack_from("<HH", plain, pos)
        if seen_filepass and rtype not in PLAIN_RECORDS:
            start = pos + 4 + (4 if rtype == BOUNDSHEET else 0)
            for k in range(start, pos + 4 + size):
                mask[k] = 1
        if rtype == FILEPASS:
            seen_filepass = True
        pos += 4 + size
    out = bytearray(plain)
    for block in range(0, (len(plain) + 1023) // 1024):
        ks = _rc4(keyfn(block), bytes(1024))
        for k in range(block * 1024, min(len(plain), (block + 1) * 1024)):
            if mask[k]:
                out[k] ^= ks[k - block * 1024]
    return bytes(out), bytes(plain)
