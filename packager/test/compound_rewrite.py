#!/usr/bin/env python3
"""Writes an installer package's streams again as a new compound file, with
changes a test asks for, to make damaged and hostile packages from real ones.

  compound_rewrite.py IN OUT [change...]

  chain:N        N more empty streams, all in one chain of right siblings
  wide:N         N more empty streams, in a balanced tree
  drop:NAME      leaves out a stream (NAME as decoded, e.g. _Tables)
  cut:NAME:N     keeps the first N bytes of a stream
  poke:NAME:AT:V writes the 16-bit value V at byte AT of a stream
  minitail:NAME  the stream's mini sector chain goes on past the mini FAT
  depth          prints the depth of the directory tree and the entry count
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
        streams.append([name, body[:n]])
    return bytes(root[0x50:0x60]), streams, depth, len(directory) // 128


def key(name):
    return (len(name), name.upper())


def write(clsid, streams, shape, minitail):
    """Streams under 4096 bytes go to the mini stream, the others to sectors."""
    streams = sorted(streams, key=lambda s: key(s[0]))
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
    for name, body in streams:
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

    def dirent(name, kind, l, r, c, start, size, cls=b"\0" * 16):
        raw = name.encode("utf-16-le")
        e = bytearray(128)
        e[0:len(raw)] = raw
        struct.pack_into("<HBB3I", e, 0x40, len(raw) + 2, kind, 1, l, r, c)
        e[0x50:0x60] = cls
        struct.pack_into("<IQ", e, 0x74, start, size)
        return e

    directory = dirent("Root Entry", 5, FREE, FREE, top,
                       mini_first if mini_sectors else END, len(mini), clsid)
    for i, (name, body) in enumerate(streams):
        kind, where = starts[i]
        start = big_first[where] if kind == "big" else where
        directory += dirent(name, 2, left[i], right[i], FREE, start, len(body))
    directory += bytes(dir_sectors * 512 - len(directory))
    for k in range(dir_sectors * 4 - entries):
        struct.pack_into("<3I", directory, 128 * (entries + k) + 0x44, FREE, FREE, FREE)
    body = header + struct.pack("<%dI" % len(fat), *fat) + difat + directory
    body += struct.pack("<%dI" % len(minifat), *minifat) + b"\xFF" * (minifat_sectors * 512 - 4 * len(minifat))
    body += mini + bytes(mini_sectors * 512 - len(mini))
    for b in big:
        body += b + bytes((-len(b)) % 512)
    return bytes(body)


def main():
    data = open(sys.argv[1], "rb").read()
    clsid, streams, depth, entries = read(data)
    named = {decode(s[0]): s for s in streams}
    shape, minitail = "wide", None
    for change in sys.argv[3:]:
        what, _, arg = change.partition(":")
        if what == "depth":
            print("depth %d, entries %d, streams %d" % (depth, entries, len(streams)))
            return
        if what in ("chain", "wide"):
            shape = what
            streams += [["x%06d" % k, b""] for k in range(int(arg))]
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
        else:
            sys.exit("unknown change " + change)
    open(sys.argv[2], "wb").write(write(clsid, streams, shape, minitail))


main()
