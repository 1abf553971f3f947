#!/usr/bin/env python3
"""Writes a real installer package again with its table catalogue in one of
the two shapes that once made the table check quadratic, for the benchmark
bench/tables.sh and the fuzz corpus.

  table_shapes.py IN OUT repeated MIB   a table "Pad" with a stream of about
        MIB MiB, listed again and again in _Tables under copies of its name
  table_shapes.py IN OUT long MIB       a table whose name is about MIB MiB
        long, with one _Columns row for every 128 bytes of the name (at most 32,000)
"""
import struct
import sys
from pathlib import Path

# The rewriting helper of the tests, without its command line.
source = (Path(__file__).resolve().parent.parent / "packager/test/compound_rewrite.py").read_text()
helper = {}
exec(compile(source.replace("\nmain()\n", "\n"), "compound_rewrite.py", "exec"), helper)


def stream(streams, name):
    for s in streams:
        if helper["decode"](s[0]) == name:
            return s
    raise SystemExit("no stream " + name)


def main():
    src, out, shape, mib = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
    clsid, streams, _, _ = helper["read"](open(src, "rb").read())
    pool, data = stream(streams, "!_StringPool"), stream(streams, "!_StringData")
    tables, columns = stream(streams, "!_Tables"), stream(streams, "!_Columns")
    if struct.unpack_from("<H", pool[1], 2)[0] & 0x8000:
        raise SystemExit("three-byte string references are not handled")
    strings = len(pool[1]) // 4 - 1
    # Ids follow the entries when the package holds no string of 64 KiB or
    # more (wixl's do not).
    added_pool, added_data = bytearray(), bytearray()

    def add(text):
        nonlocal strings
        if len(text) < 0x10000:
            added_pool.extend(struct.pack("<HH", len(text), 1))
        else:
            # Two entries, one id: a zero length, then the length in 32 bits.
            added_pool.extend(struct.pack("<HHI", 0, 1, len(text)))
        added_data.extend(text)
        strings += 1
        if strings >= 0xFFFF:
            raise SystemExit("too many strings for two-byte references")
        return strings

    # _Columns rows: table, number, name, type; column by column.
    rows = []
    column_name = add(b"A")
    n_tables = len(tables[1]) // 2
    old_rows = len(columns[1]) // 8
    old = [columns[1][2 * old_rows * k:2 * old_rows * (k + 1)] for k in range(4)]
    if shape == "repeated":
        pad = b"Pad"
        stream_bytes = int(mib * 1024 * 1024) // 2 * 2
        copies = 2000
        ids = [add(pad) for _ in range(copies)]
        tables[1] += b"".join(struct.pack("<H", i) for i in ids)
        rows = [(i, 0x8001, column_name, 0x8000 + 0x0502) for i in ids]
        streams.append([helper["encode"]("!" + pad.decode()), b"\x01\x80" * (stream_bytes // 2), 2, None])
    elif shape == "long":
        length = int(mib * 1024 * 1024)
        name = add(b"L" * length)
        tables[1] += struct.pack("<H", name)
        count = max(1, min(length // 128, 32000))
        rows = [(name, 0x8001 + k, column_name, 0x8000 + 0x1502) for k in range(count)]
    else:
        raise SystemExit("unknown shape " + shape)
    new = [b"".join(struct.pack("<H", r[k]) for r in rows) for k in range(4)]
    columns[1] = b"".join(old[k] + new[k] for k in range(4))
    pool[1] += bytes(added_pool)
    data[1] += bytes(added_data)
    open(out, "wb").write(helper["write"](clsid, streams, "wide", None))


main()
