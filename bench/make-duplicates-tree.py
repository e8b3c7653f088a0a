#!/usr/bin/env python3
"""Writes the duplicate-finder benchmark tree: a home-shaped folder of about 4.7 GB of real,
incompressible data with sets of identical large files, same-size files with other contents
(differing at the start, at the end, only in the middle), near-equal sizes, unique large files
and small files below the 50 MiB limit. Every byte is written (no reflinks, no sparse files), and
the layout is the same on every run (seeded). Prints the expected duplicate sets as JSON lists of
relative paths on standard output when asked with --expected."""
import json
import os
import random
import sys

MiB = 1 << 20


def layout():
    """[(relative path, size, content key, edits)] where equal keys mean equal bytes before edits;
    an edit (offset, byte) overwrites one byte."""
    files = []

    def dup_set(key, size, paths):
        for p in paths:
            files.append((p, size, key, []))

    dup_set("A", 300 * MiB + 17, ["Documents/Archive/backup-2023.tar", "Downloads/backup-2023.tar"])
    dup_set("B", 250 * MiB, ["Videos/holiday.mkv", "Desktop/holiday copy.mkv"])
    dup_set("C", 180 * MiB + 4095, ["Projects/atlas/data/model.bin", "Projects/borealis/model.bin",
                                   "Downloads/model.bin"])
    dup_set("D", 120 * MiB + 1, ["Music/Live/concert.flac", "Downloads/concert.flac"])
    dup_set("E", 100 * MiB, ["Pictures/Scans/album.tiff", "Documents/album.tiff"])
    for i in range(6):
        dup_set(f"F{i}", 64 * MiB + 1000 * i,
                [f"Projects/assets/pack-{i}.zip", f"Downloads/packs/pack-{i}.zip"])
    # One size, four different contents.
    for i in range(4):
        files.append((f"Videos/Raw/take-{i}.mov", 150 * MiB, f"L{i}", []))
    # One size, two equal and one different.
    files.append(("Documents/Reports/q1.pdf", 90 * MiB + 333, "M", []))
    files.append(("Downloads/q1.pdf", 90 * MiB + 333, "M", []))
    files.append(("Documents/Reports/q2.pdf", 90 * MiB + 333, "M2", []))
    # Same size, same first and last 64 KiB, one byte apart in the middle.
    files.append(("Documents/Disk/image-a.img", 80 * MiB, "N", []))
    files.append(("Documents/Disk/image-b.img", 80 * MiB, "N", [(40 * MiB, 0x5A)]))
    # Same size and start, other end.
    files.append(("Desktop/log-a.bin", 70 * MiB, "O", []))
    files.append(("Desktop/log-b.bin", 70 * MiB, "O", [(70 * MiB - 10, 0x5A)]))
    # Equal but for one extra byte: same blocks on disk, other lengths.
    files.append(("Projects/atlas/out-1.dat", 60 * MiB + 1, "P", []))
    files.append(("Projects/atlas/out-2.dat", 60 * MiB + 2, "P", []))
    for i in range(6):
        files.append((f"Projects/unique/u-{i}.bin", (55 + 8 * i) * MiB + i, f"U{i}", []))
    # Small files, some of them equal, all under the limit.
    rng = random.Random(99)
    for i in range(300):
        size = rng.randrange(256 * 1024, 1 * MiB)
        key = f"S{i % 120}"
        files.append((f"Documents/Notes/n{i // 50}/note-{i}.dat", size, key, []))
    return files


def content(key, size):
    # Drawn in fixed chunks, so a shorter file of a key is an exact prefix of a longer one.
    rng = random.Random(key)
    chunk = 16 * MiB
    return bytearray(b"".join(rng.randbytes(chunk) for _ in range(-(-size // chunk))))


def expected_sets(files):
    groups = {}
    for path, size, key, edits in files:
        if size < 50 * MiB:
            continue
        groups.setdefault((key, size, tuple(edits)), []).append(path)
    return sorted(sorted(g) for g in groups.values() if len(g) > 1)


def write(root):
    cache = {}
    for path, size, key, edits in layout():
        target = os.path.join(root, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        # The longest size of a key is generated once; shorter files of that key are its prefix.
        data = cache.get(key)
        if data is None or len(data) < size:
            data = content(key, size)
            cache = {key: data}
        chunk = bytearray(data[:size])
        for offset, value in edits:
            chunk[offset] = value
        with open(target, "wb") as f:
            f.write(chunk)


def main():
    if len(sys.argv) == 2 and sys.argv[1] == "--expected":
        json.dump(expected_sets(layout()), sys.stdout)
        print()
        return
    if len(sys.argv) != 2:
        sys.exit("usage: make-duplicates-tree.py DIR | --expected")
    write(sys.argv[1])


if __name__ == "__main__":
    main()
