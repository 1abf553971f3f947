#!/usr/bin/env python3
"""Changes the resource directory of a setup program in place, as a careless
resource editor might, to make setup programs whose resources Windows' lookup
reads otherwise than a walk of the whole tree does. The checksum is made right
again, so that only the change tells.

  setup_rewrite.py IN OUT [change...]

  lang:NAME[:LANG]  the RCDATA resource NAME (e.g. MSI, PRODUCT_CODE) gets a
                    second language LANG (default 1033, else 1034) that holds
                    the same data, in a language directory written into
                    padding between the resources' data
  unsorted          the RCDATA resources' names in the reverse of their order
"""
import struct
import sys

RCDATA = 10


class Resources:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        count, optional = struct.unpack_from("<H12xH", data, pe + 6)
        self.optional = pe + 24
        rva, size = struct.unpack_from("<II", data, self.optional + 112 + 8 * 2)
        for k in range(count):
            at = self.optional + optional + 40 * k
            vsize, va, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            if va <= rva < va + max(vsize, raw_size):
                self.base, self.limit = raw + rva - va, raw + raw_size
                self.rva = rva
                return
        sys.exit("no section holds the resource directory")

    def directory(self, offset):
        """[(name or id, value, where the entry is)] of the directory at offset."""
        named, ids = struct.unpack_from("<HH", self.data, self.base + offset + 12)
        out = []
        for k in range(named + ids):
            at = self.base + offset + 16 + 8 * k
            name, value = struct.unpack_from("<II", self.data, at)
            if name & 0x80000000:
                n = struct.unpack_from("<H", self.data, self.base + (name & 0x7FFFFFFF))[0]
                start = self.base + (name & 0x7FFFFFFF) + 2
                name = self.data[start:start + 2 * n].decode("utf-16-le")
            out.append((name, value, at))
        return out

    def free(self, size):
        """A 16-byte aligned offset in the section where size bytes of zeros
        lie outside every structure and every resource's data."""
        used, pending = [], [0]
        while pending:
            offset = pending.pop()
            entries = self.directory(offset)
            used.append((offset, offset + 16 + 8 * len(entries)))
            for name, value, at in entries:
                name_at = struct.unpack_from("<I", self.data, at)[0]
                if name_at & 0x80000000:
                    used.append((name_at & 0x7FFFFFFF, (name_at & 0x7FFFFFFF) + 2 + 2 * len(name)))
                if value & 0x80000000:
                    pending.append(value & 0x7FFFFFFF)
                else:
                    used.append((value, value + 16))
                    rva, n = struct.unpack_from("<II", self.data, self.base + value)
                    used.append((rva - self.rva, rva - self.rva + n))
        at = 0
        for start, end in sorted(used) + [(self.limit - self.base, 0)]:
            at = (at + 15) & ~15
            if at + size <= start and not any(self.data[self.base + at:self.base + at + size]):
                return at
            at = max(at, end)
        sys.exit("no room for another language directory")

    def rcdata(self):
        entry = [e for e in self.directory(0) if e[0] == RCDATA]
        if not entry:
            sys.exit("no RCDATA resources")
        return entry[0][1] & 0x7FFFFFFF


def second_language(res, name, lang):
    found = [e for e in res.directory(res.rcdata()) if e[0] == name]
    if not found:
        sys.exit("no RCDATA resource " + name)
    languages = res.directory(found[0][1] & 0x7FFFFFFF)
    if len(languages) != 1:
        sys.exit("%s has %d languages already" % (name, len(languages)))
    old, leaf, _ = languages[0]
    lang = int(lang) if lang else (1034 if old == 1033 else 1033)
    at = res.free(32)
    pair = sorted([(old, leaf), (lang, leaf)])
    res.data[res.base + at:res.base + at + 32] = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 2) + b"".join(
        struct.pack("<II", i, v) for i, v in pair)
    struct.pack_into("<I", res.data, found[0][2] + 4, 0x80000000 | at)


def reverse_names(res):
    entries = res.directory(res.rcdata())
    named = [e for e in entries if isinstance(e[0], str)]
    raw = [res.data[at:at + 8] for _, _, at in named]
    for (_, _, at), body in zip(named, reversed(raw)):
        res.data[at:at + 8] = body


def checksum(data, field):
    total = 0
    for k in range(0, len(data) - len(data) % 2, 2):
        if field <= k < field + 4:
            continue
        total += data[k] | data[k + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    if len(data) % 2:
        total += data[-1]
    total = (total & 0xFFFF) + (total >> 16)
    return (total + (total >> 16) & 0xFFFF) + len(data)


def main():
    data = bytearray(open(sys.argv[1], "rb").read())
    res = Resources(data)
    for change in sys.argv[3:]:
        what, _, arg = change.partition(":")
        if what == "lang":
            name, _, lang = arg.partition(":")
            second_language(res, name, lang)
        elif what == "unsorted":
            reverse_names(res)
        else:
            sys.exit("unknown change " + change)
    struct.pack_into("<I", data, res.optional + 64, checksum(data, res.optional + 64))
    open(sys.argv[2], "wb").write(data)


main()
