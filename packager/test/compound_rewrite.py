#!/usr/bin/env python3
"""Writes an installer package's streams again as a new compound file, with
changes a test asks for, to make damaged and hostile packages from real ones.

  compound_rewrite.py IN OUT [change...]

  chain:N        N more empty streams, all in one chain of right siblings
  wide:N         N more empty streams, in a balanced tree
  drop:NAME      leaves out a stream (NAME as decoded, e.g. !_Tables)
  cut:NAME:N     keeps the first N bytes of a stream
  poke:NAME:AT:V writes the 16-bit value V at byte AT of a stream
  minitail:NAME  the stream's mini sector chain goes on past the mini FAT
  depth          prints the depth of the directory tree and the entry count

Names are given decoded, with Python's backslash escapes (\x05, \x00); a new
name is encoded as the installer libraries encode stream names, unless it
starts with raw= (its UTF-16 units as given):

  rename:NAME:NEW        the stream gets another name
  dup:NAME:NEW           a copy of the stream under another name
  bytes:NAME:TEXT        a copy of the stream named TEXT in 8-bit characters
  namesize:NAME:N        the stream's name-size field says N bytes
  storage:NEW            an empty storage of that name at the root
  unsorted               the tree written in the reverse of the format's order

Table-level changes (tables and columns as _Columns gives them):

  codepage:N             the string pool's code page
  setstr:OLD:NEW         a string's bytes (escapes give bytes) replaced
  refs:TEXT:N            the reference count the pool gives a string (counts
                         are never lowered otherwise: writers leave them low)
  dupstr:TABLE:KEY       the row keyed KEY refers to a second copy of its key
  addprop:NAME:VALUE     one more Property row, after the others (a second
                         one when NAME has a row)
  setprop:NAME:VALUE     the value of the Property rows NAME
  set:TABLE:COLUMN:V     the column in every row: a string, or a number for
                         an integer column; empty V is NULL
  sumtype:PID:VT         a Summary Information property stored as type VT
                         (2 I2, 3 I4, 19 UI4, 30 LPSTR, 31 LPWSTR)
  sumdup:PID[:VALUE]     the property repeated, with its value or VALUE
  sumset:PID:VALUE       the property's value
"""
import struct
import sys

END, FREE, FATSECT, DIFSECT = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD, 0xFFFFFFFC
ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"


def decode(name):
    out = ""
    for ch in name:
        c = ord(ch)
        if 0x3800 <= c < 0x4800:
            out += ALPHABET[(c - 0x3800) & 0x3F] + ALPHABET[(c - 0x3800) >> 6]
        elif 0x4800 <= c < 0x4840:
            out += ALPHABET[c - 0x4800]
        elif c == 0x4840:
            out += "!"
        else:
            out += ch
    return out


def read(data):
    shift = struct.unpack_from("<H", data, 0x1E)[0]
    size = 1 << shift
    sector = lambda n: data[(n + 1) * size:(n + 2) * size]
    fat_sectors = [s for s in struct.unpack_from("<109I", data, 0x4C)]
    difat = struct.unpack_from("<I", data, 0x44)[0]
    while difat < DIFSECT:
        entries = struct.unpack("<%dI" % (size // 4), sector(difat))
        fat_sectors += entries[:-1]
        difat = entries[-1]
    fat = []
    for s in fat_sectors[:struct.unpack_from("<I", data, 0x2C)[0]]:
        fat += struct.unpack("<%dI" % (size // 4), sector(s))

    def chain(start):
        while start < DIFSECT:
            yield start
            start = fat[start]

    directory = b"".join(sector(s) for s in chain(struct.unpack_from("<I", data, 0x30)[0]))
    minifat_bytes = b"".join(sector(s) for s in chain(struct.unpack_from("<I", data, 0x3C)[0]))
    minifat = struct.unpack("<%dI" % (len(minifat_bytes) // 4), minifat_bytes)
    entry = lambda i: directory[128 * i:128 * (i + 1)]
    root = entry(0)
    ministream = b"".join(sector(s) for s in chain(struct.unpack_from("<I", root, 0x74)[0]))
    streams, depth = [], 0
    pending = [(struct.unpack_from("<I", root, 0x4C)[0], 1)]
    while pending:
        i, level = pending.pop()
        if i == FREE:
            continue
        depth = max(depth, level)
        e = entry(i)
        length = struct.unpack_from("<H", e, 0x40)[0]
        name = e[:max(length - 2, 0)].decode("utf-16-le")
        left, right, child = struct.unpack_from("<3I", e, 0x44)
        pending += [(left, level + 1), (right, level + 1), (child, level + 1)]
        start = struct.unpack_from("<I", e, 0x74)[0]
        n = struct.unpack_from("<I", e, 0x78)[0]
        if e[0x42] != 2:
            sys.exit("only streams at the root are written again: %s" % decode(name))
        if n < 4096:
            body, s = b"", start
            while s < DIFSECT:
                body += ministream[64 * s:64 * s + 64]
                s = minifat[s]
        else:
            body = b"".join(sector(s) for s in chain(start))
        streams.append([name, body[:n], 2, None])
    return bytes(root[0x50:0x60]), streams, depth, len(directory) // 128


def encode(name):
    """A stream's name as the installer libraries store it: a table's gets a
    mark, pairs and single characters of the alphabet take one unit each."""
    if name.startswith("raw="):
        return name[4:]
    out = ""
    if name.startswith("!"):
        out, name = chr(0x4840), name[1:]
    at = 0
    while at < len(name):
        a = ALPHABET.find(name[at])
        b = ALPHABET.find(name[at + 1]) if at + 1 < len(name) else -1
        if a >= 0 and b >= 0:
            out += chr(0x3800 + a + (b << 6))
            at += 2
            continue
        out += chr(0x4800 + a) if a >= 0 else name[at]
        at += 1
    return out


def unescape(text):
    return text.encode("latin-1", "backslashreplace").decode("unicode_escape")


def key(name):
    if isinstance(name, bytes):
        name = name.decode("latin-1")
    return (len(name), name.upper())


def write(clsid, streams, shape, minitail, unsorted=False):
    """Streams under 4096 bytes go to the mini stream, the others to sectors."""
    streams = sorted(streams, key=lambda s: key(s[0]), reverse=unsorted)
    n = len(streams)
    left, right = [FREE] * n, [FREE] * n

    def balance(lo, hi):
        if lo >= hi:
            return FREE
        mid = (lo + hi) // 2
        left[mid], right[mid] = balance(lo, mid), balance(mid + 1, hi)
        return mid + 1

    if shape == "chain":
        for i in range(n - 1):
            right[i] = i + 2
        top = 1 if n else FREE
    else:
        sys.setrecursionlimit(10000)
        top = balance(0, n)
    mini, minifat, big = bytearray(), [], []
    starts = []
    for name, body, _, _ in streams:
        if 0 < len(body) < 4096:
            first = len(mini) // 64
            count = (len(body) + 63) // 64
            minifat += [first + k + 1 for k in range(count - 1)] + [END]
            mini += body + b"\0" * (count * 64 - len(body))
            starts.append(("mini", first))
        elif len(body) == 0:
            starts.append(("none", END))
        else:
            starts.append(("big", len(big)))
            big.append(body)
    if minitail is not None:
        kind, first = starts[[s[0] for s in streams].index(minitail)]
        last = first + (len(streams[[s[0] for s in streams].index(minitail)][1]) + 63) // 64 - 1
        minifat[last] = len(minifat) + 100000
    entries = n + 1
    dir_sectors = (entries + 3) // 4
    minifat_sectors = (len(minifat) + 127) // 128
    mini_sectors = (len(mini) + 511) // 512
    big_sectors = [(len(b) + 511) // 512 for b in big]
    data_sectors = dir_sectors + minifat_sectors + mini_sectors + sum(big_sectors)
    fat_count = difat_count = 0
    while True:
        total = data_sectors + fat_count + difat_count
        need_fat = (total + 127) // 128
        need_difat = max(0, (need_fat - 109 + 126) // 127)
        if (need_fat, need_difat) == (fat_count, difat_count):
            break
        fat_count, difat_count = need_fat, need_difat
    fat = [FREE] * (fat_count * 128)
    at = 0

    def run(count, mark=None):
        nonlocal at
        first = at
        for k in range(count):
            fat[at + k] = mark if mark is not None else (at + k + 1 if k + 1 < count else END)
        at += count
        return first if count else END

    fat_first = run(fat_count, FATSECT)
    difat_first = run(difat_count, DIFSECT)
    dir_first = run(dir_sectors)
    minifat_first = run(minifat_sectors)
    mini_first = run(mini_sectors)
    big_first = [run(c) for c in big_sectors]

    header = bytearray(512)
    header[0:8] = b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"
    struct.pack_into("<HHHHH", header, 0x18, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIIII", header, 0x28, 0, fat_count, dir_first, 0, 4096,
                     minifat_first if minifat_sectors else END, minifat_sectors,
                     difat_first if difat_count else END, difat_count)
    fat_list = list(range(fat_first, fat_first + fat_count))
    struct.pack_into("<109I", header, 0x4C, *(fat_list[:109] + [FREE] * (109 - len(fat_list[:109]))))
    difat = bytearray()
    rest = fat_list[109:]
    for k in range(difat_count):
        part = rest[127 * k:127 * (k + 1)]
        nxt = difat_first + k + 1 if k + 1 < difat_count else END
        difat += struct.pack("<128I", *(part + [FREE] * (127 - len(part)) + [nxt]))

    def dirent(name, kind, l, r, c, start, size, cls=b"\0" * 16, namesize=None):
        # A name in bytes is written in 8-bit characters.
        raw = name if isinstance(name, bytes) else name.encode("utf-16-le", "surrogatepass")
        if namesize is None:
            namesize = len(raw) + (1 if isinstance(name, bytes) else 2)
        e = bytearray(128)
        e[0:len(raw)] = raw
        struct.pack_into("<HBB3I", e, 0x40, namesize, kind, 1, l, r, c)
        e[0x50:0x60] = cls
        struct.pack_into("<IQ", e, 0x74, start, size)
        return e

    directory = dirent("Root Entry", 5, FREE, FREE, top,
                       mini_first if mini_sectors else END, len(mini), clsid)
    for i, (name, body, kind, namesize) in enumerate(streams):
        where, at = starts[i]
        start = big_first[at] if where == "big" else 0 if kind == 1 else at
        directory += dirent(name, kind, left[i], right[i], FREE, start, len(body), namesize=namesize)
    directory += bytes(dir_sectors * 512 - len(directory))
    for k in range(dir_sectors * 4 - entries):
        struct.pack_into("<3I", directory, 128 * (entries + k) + 0x44, FREE, FREE, FREE)
    body = header + struct.pack("<%dI" % len(fat), *fat) + difat + directory
    body += struct.pack("<%dI" % len(minifat), *minifat) + b"\xFF" * (minifat_sectors * 512 - 4 * len(minifat))
    body += mini + bytes(mini_sectors * 512 - len(mini))
    for b in big:
        body += b + bytes((-len(b)) % 512)
    return bytes(body)


class Database:
    """The string pool and the tables of a package's streams, for edits made
    as a writer that does not care would make them; saved back with save()."""

    def __init__(self, named):
        self.named = named
        pool, data = named["!_StringPool"][1], named["!_StringData"][1]
        self.codepage = struct.unpack_from("<I", pool)[0]
        if self.codepage & 0x80000000:
            sys.exit("only packages with 2-byte string references are rewritten")
        self.strings, self.refs, at = [None], [0], 0
        for k in range(1, len(pool) // 4):
            size, refs = struct.unpack_from("<HH", pool, 4 * k)
            if size == 0 and refs:
                sys.exit("long strings are not rewritten")
            self.strings.append(data[at:at + size])
            self.refs.append(refs)
            at += size

    def save(self):
        self.named["!_StringPool"][1] = struct.pack("<I", self.codepage) + b"".join(
            struct.pack("<HH", len(t), r) for t, r in zip(self.strings[1:], self.refs[1:]))
        self.named["!_StringData"][1] = b"".join(self.strings[1:])

    def add(self, text):
        self.strings.append(text)
        self.refs.append(1)
        return len(self.strings) - 1

    def find(self, text):
        if text not in self.strings:
            sys.exit("no string %r" % text)
        return self.strings.index(text)

    def ref(self, text):
        """The first string text, made when there is none, referred to once more."""
        if text not in self.strings:
            return self.add(text)
        self.refs[self.strings.index(text)] += 1
        return self.strings.index(text)

    def columns(self, table):
        """(name, type, width) of the table's columns, in their order."""
        body = self.named["!_Columns"][1]
        n = len(body) // 8
        col = lambda c, r: struct.unpack_from("<H", body, 2 * (c * n + r))[0]
        found = sorted((col(1, r), self.strings[col(2, r)].decode(), col(3, r) ^ 0x8000)
                       for r in range(n) if self.strings[col(0, r)] == table.encode())
        # Strings and binary columns are string references; numbers 2 or 4 bytes.
        return [(name, kind, 2 if kind & 0x800 else min(max(kind & 0xFF, 2), 4))
                for _, name, kind in found]

    def rows(self, table):
        cols, body = self.columns(table), self.named["!" + table][1]
        n = len(body) // sum(w for _, _, w in cols)
        rows, at = [[] for _ in range(n)], 0
        for _, _, width in cols:
            for row in rows:
                row.append(int.from_bytes(body[at:at + width], "little"))
                at += width
        return cols, rows

    def store(self, table, cols, rows):
        self.named["!" + table][1] = b"".join(
            row[c].to_bytes(width, "little") for c, (_, _, width) in enumerate(cols) for row in rows)

    def keyed(self, rows, key):
        want = self.find(key)
        return [row for row in rows if row[0] == want]


def summary(body):
    """The Summary Information's one section as [pid, type, value]."""
    at = struct.unpack_from("<I", body, 44)[0]
    props = []
    for k in range(struct.unpack_from("<I", body, at + 4)[0]):
        pid, where = struct.unpack_from("<II", body, at + 8 + 8 * k)
        vt, = struct.unpack_from("<I", body, at + where)
        value = body[at + where + 4:at + where + 12]
        if vt in (2, 3, 19):
            value = struct.unpack_from({2: "<h", 3: "<i", 19: "<I"}[vt], value)[0]
        elif vt in (30, 31):
            n = struct.unpack_from("<I", body, at + where + 4)[0] * (1 if vt == 30 else 2)
            value = body[at + where + 8:at + where + 8 + n]
            value = value.rstrip(b"\0") if vt == 30 else value.decode("utf-16-le").rstrip("\0").encode("latin-1")
        props.append([pid, vt, value])
    return body[:48], props


def summary_bytes(head, props):
    values = b""
    offsets = []
    for pid, vt, value in props:
        offsets.append(8 + 8 * len(props) + len(values))
        if vt in (30, 31):
            value = value if isinstance(value, bytes) else str(value).encode()
            text = value + b"\0" if vt == 30 else (value.decode("latin-1") + "\0").encode("utf-16-le")
            v = struct.pack("<II", vt, len(text) // (1 if vt == 30 else 2)) + text
        elif vt in (2, 3, 19):
            number = value if isinstance(value, int) else int(value or 0)
            v = struct.pack("<I" + {2: "h", 3: "i", 19: "I"}[vt], vt, number)
        else:
            v = struct.pack("<I", vt) + value
        values += v + bytes(-len(v) % 4)
    table = b"".join(struct.pack("<II", pid, o) for (pid, _, _), o in zip(props, offsets))
    return head + struct.pack("<II", 8 + len(table) + len(values), len(props)) + table + values


def edit_tables(named, what, args):
    db = Database(named)
    if what == "codepage":
        db.codepage = int(args[0])
    elif what == "setstr":
        old, new = (unescape(a).encode("latin-1") for a in args)
        db.strings[db.find(old)] = new
    elif what == "refs":
        db.refs[db.find(unescape(args[0]).encode("latin-1"))] = int(args[1])
    elif what == "dupstr":
        cols, rows = db.rows(args[0])
        for row in db.keyed(rows, args[1].encode()):
            row[0] = db.add(args[1].encode())
        db.store(args[0], cols, rows)
    elif what in ("addprop", "setprop"):
        name, value = args[0].encode(), unescape(args[1]).encode("latin-1")
        cols, rows = db.rows("Property")
        if what == "addprop":
            rows.append([db.ref(name), db.ref(value)])
        for row in db.keyed(rows, name) if what == "setprop" else []:
            row[1] = db.ref(value)
        db.store("Property", cols, rows)
    elif what == "set":
        table, column, value = args
        cols, rows = db.rows(table)
        c = [name for name, _, _ in cols].index(column)
        kind, width = cols[c][1:]
        for row in rows:
            if kind & 0x800:
                row[c] = db.add(unescape(value).encode("latin-1")) if value else 0
            else:
                row[c] = (int(value) ^ (1 << (8 * width - 1))) if value else 0
        db.store(table, cols, rows)
    db.save()


def edit_summary(named, what, args):
    entry = named["\x05SummaryInformation"]
    head, props = summary(entry[1])
    prop = [p for p in props if p[0] == int(args[0])][0]
    if what == "sumtype":
        prop[1] = int(args[1])
    elif what == "sumset":
        prop[2] = unescape(args[1]).encode("latin-1")
    else:
        props.append([prop[0], prop[1], unescape(args[1]).encode("latin-1") if len(args) > 1 else prop[2]])
    entry[1] = summary_bytes(head, props)


def main():
    data = open(sys.argv[1], "rb").read()
    clsid, streams, depth, entries = read(data)
    named = {decode(s[0]): s for s in streams}
    shape, minitail, unsorted = "wide", None, False
    for change in sys.argv[3:]:
        what, _, arg = change.partition(":")
        if what == "depth":
            print("depth %d, entries %d, streams %d" % (depth, entries, len(streams)))
            return
        if what in ("chain", "wide"):
            shape = what
            streams += [["x%06d" % k, b"", 2, None] for k in range(int(arg))]
        elif what == "drop":
            streams.remove(named[arg])
        elif what == "cut":
            name, n = arg.rsplit(":", 1)
            named[name][1] = named[name][1][:int(n)]
        elif what == "poke":
            name, at, value = arg.split(":")
            body = bytearray(named[name][1])
            struct.pack_into("<H", body, int(at, 0), int(value, 0))
            named[name][1] = bytes(body)
        elif what == "minitail":
            minitail = named[arg][0]
        elif what in ("rename", "dup", "bytes", "namesize"):
            name, new = arg.split(":", 1)
            entry = named[unescape(name)]
            if what == "dup" or what == "bytes":
                entry = list(entry)
                streams.append(entry)
            if what == "namesize":
                entry[3] = int(new)
            else:
                entry[0] = unescape(new).encode("latin-1") if what == "bytes" else encode(unescape(new))
        elif what == "storage":
            streams.append([encode(unescape(arg)), b"", 1, None])
        elif what == "unsorted":
            unsorted = True
        elif what in ("codepage", "setstr", "refs", "dupstr", "addprop", "setprop", "set"):
            edit_tables(named, what, arg.split(":"))
        elif what in ("sumtype", "sumdup", "sumset"):
            edit_summary(named, what, arg.split(":"))
        else:
            sys.exit("unknown change " + change)
    open(sys.argv[2], "wb").write(write(clsid, streams, shape, minitail, unsorted))


main()
