"""A small writer of [MS-CFB] compound files (version 3, 512-byte sectors) for test fixtures.

It writes what the tests need and nothing more: streams at the root or in storages one level
down, small streams in the mini stream, and options that lay the file out in unusual but valid
ways (scattered sectors, a DIFAT sector) so that the reader's less common paths get exercised.
"""

import struct

SECTOR = 512
MINI = 64
CUTOFF = 4096
FREESECT = 0xFFFFFFFF
ENDOFCHAIN = 0xFFFFFFFE
FATSECT = 0xFFFFFFFD
DIFSECT = 0xFFFFFFFC
NOSTREAM = 0xFFFFFFFF
SIGNATURE = bytes([0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1])


def _cfb_key(name):
    # Siblings are ordered by name length first, then by the upper-cased name.
    return (len(name), name.upper())


class _Node:
    def __init__(self, name, data=None, storage=False):
        self.name = name
        self.data = data
        self.storage = storage
        self.children = {}
        self.index = None
        self.start = ENDOFCHAIN
        self.size = 0


def write_cfb(streams, storages=(), scatter=False, extra_fat_sectors=0):
    """streams: {"Workbook": bytes, "Sub/Stream": bytes}; storages: names of empty storages.

    scatter: interleave the sectors of the big streams so that every chain jumps around.
    extra_fat_sectors: pad the allocation table with that many unused sectors; past 109 in all
    the list of them continues in a DIFAT sector.
    """
    root = _Node("Root Entry", storage=True)
    for path in storages:
        node = root
        for part in path.split("/"):
            node = node.children.setdefault(part, _Node(part, storage=True))
    for path, data in streams.items():
        parts = path.split("/")
        node = root
        for part in parts[:-1]:
            node = node.children.setdefault(part, _Node(part, storage=True))
        node.children[parts[-1]] = _Node(parts[-1], data=bytes(data))

    entries = []

    def number(node):
        node.index = len(entries)
        entries.append(node)
        for child in node.children.values():
            number(child)

    number(root)

    # Small streams go to the mini stream, in 64-byte sectors.
    mini = bytearray()
    minifat = []
    big = [n for n in entries if n.data is not None and len(n.data) >= CUTOFF]
    for n in entries:
        if n.data is None or len(n.data) >= CUTOFF:
            continue
        n.size = len(n.data)
        if n.size == 0:
            continue
        count = (n.size + MINI - 1) // MINI
        first = len(mini) // MINI
        n.start = first
        for i in range(count):
            minifat.append(first + i + 1 if i + 1 < count else ENDOFCHAIN)
        mini += n.data + b"\0" * (count * MINI - n.size)

    sectors = []  # contents of each sector, in file order
    fat = []

    def allocate(chunks):
        ids = []
        for chunk in chunks:
            ids.append(len(sectors))
            sectors.append(chunk.ljust(SECTOR, b"\0"))
            fat.append(FREESECT)
        for a, b in zip(ids, ids[1:]):
            fat[a] = b
        if ids:
            fat[ids[-1]] = ENDOFCHAIN
        return ids

    def chunks_of(data):
        return [data[i:i + SECTOR] for i in range(0, len(data), SECTOR)]

    if scatter and big:
        # Round-robin the sectors of the big streams, then chain each stream backwards, so
        # that no two consecutive sectors of a stream are neighbours in the file.
        pending = [(n, list(reversed(chunks_of(n.data)))) for n in big]
        owner = []
        while any(p for _, p in pending):
            for n, p in pending:
                if p:
                    owner.append((n, p.pop()))
        order = list(range(len(owner)))
        order.reverse()
        placed = {}
        for slot in order:
            n, chunk = owner[slot]
            placed.setdefault(n.index, []).append(len(sectors))
            sectors.append(chunk.ljust(SECTOR, b"\0"))
            fat.append(FREESECT)
        for n in big:
            ids = list(reversed(placed[n.index]))
            for a, b in zip(ids, ids[1:]):
                fat[a] = b
            fat[ids[-1]] = ENDOFCHAIN
            n.start = ids[0]
            n.size = len(n.data)
    else:
        for n in big:
            ids = allocate(chunks_of(n.data))
            n.start = ids[0]
            n.size = len(n.data)

    if mini:
        ids = allocate(chunks_of(bytes(mini)))
        root.start = ids[0]
        root.size = len(mini)
    minifat_bytes = b"".join(struct.pack("<I", v) for v in minifat)
    minifat_ids = allocate(chunks_of(minifat_bytes)) if minifat else []

    # Siblings form a binary search tree: pick the middle one as the top of each level.
    def build(nodes):
        if not nodes:
            return NOSTREAM
        mid = len(nodes) // 2
        top = nodes[mid]
        top.left = build(nodes[:mid])
        top.right = build(nodes[mid + 1:])
        return top.index

    for n in entries:
        n.left = n.right = NOSTREAM
    for n in entries:
        if n.storage:
            n.child = build(sorted(n.children.values(), key=lambda c: _cfb_key(c.name)))
        else:
            n.child = NOSTREAM

    directory = bytearray()
    for n in entries:
        name = n.name.encode("utf-16-le") + b"\0\0"
        kind = 5 if n is root else (1 if n.storage else 2)
        directory += name.ljust(64, b"\0")
        directory += struct.pack("<HBB", len(name), kind, 1)
        directory += struct.pack("<III", n.left, n.right, n.child)
        directory += b"\0" * 16 + b"\0" * 4 + b"\0" * 16
        start = n.start if (n.data or n is root) else ENDOFCHAIN
        size = n.size if n.data is not None or n is root else 0
        if n.storage and n is not root:
            start, size = 0, 0
        directory += struct.pack("<IQ", start, size)
    while len(directory) % SECTOR:
        directory += b"\0" * 64 + struct.pack("<HBB", 0, 0, 0) + struct.pack(
            "<III", NOSTREAM, NOSTREAM, NOSTREAM) + b"\0" * 48
    dir_ids = allocate(chunks_of(bytes(directory)))

    # The allocation table must describe its own sectors too, so grow it until it fits.
    nfat = 1
    while True:
        ndif = 0 if nfat + extra_fat_sectors <= 109 else \
            -(-(nfat + extra_fat_sectors - 109) // (SECTOR // 4 - 1))
        total = len(sectors) + nfat + extra_fat_sectors + ndif
        if (nfat + extra_fat_sectors) * (SECTOR // 4) >= total:
            break
        nfat += 1
    nfat += extra_fat_sectors
    fat_ids = list(range(len(sectors), len(sectors) + nfat))
    difat_ids = list(range(fat_ids[-1] + 1, fat_ids[-1] + 1 + ndif))
    fat += [FATSECT] * nfat + [DIFSECT] * ndif
    fat += [FREESECT] * (nfat * (SECTOR // 4) - len(fat))
    fat_bytes = b"".join(struct.pack("<I", v) for v in fat)
    for chunk in chunks_of(fat_bytes):
        sectors.append(chunk)
    per = SECTOR // 4 - 1
    rest = fat_ids[109:]
    for i in range(ndif):
        part = rest[i * per:(i + 1) * per]
        part += [FREESECT] * (per - len(part))
        nxt = difat_ids[i + 1] if i + 1 < ndif else ENDOFCHAIN
        sectors.append(b"".join(struct.pack("<I", v) for v in part + [nxt]))

    header = bytearray(SIGNATURE)
    header += b"\0" * 16
    header += struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6)
    header += b"\0" * 6
    header += struct.pack("<II", 0, nfat)
    header += struct.pack("<II", dir_ids[0], 0)
    header += struct.pack("<I", CUTOFF)
    header += struct.pack("<II", minifat_ids[0] if minifat_ids else ENDOFCHAIN, len(minifat_ids))
    header += struct.pack("<II", difat_ids[0] if difat_ids else ENDOFCHAIN, ndif)
    head = fat_ids[:109] + [FREESECT] * (109 - min(109, len(fat_ids)))
    header += b"".join(struct.pack("<I", v) for v in head)
    assert len(header) == SECTOR
    return bytes(header) + b"".join(sectors)
