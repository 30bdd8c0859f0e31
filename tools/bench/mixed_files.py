"""The benchmarks' mixed release: skin pages and scripts that compress, binaries that do not, a large log
and entries stored as archivers keep already compressed files, about SIZE_MB in all (the same files for
the same size on every run, but for the random binaries' bytes)."""
import os
import random


def mixed_entries(size_mb):
    """[(name, data, stored)] of about size_mb MB."""
    rnd = random.Random(7)
    words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(4000)]

    def text(n):
        out = bytearray()
        while len(out) < n:
            out += b" ".join(rnd.choice(words) for _ in range(64)) + b"\n"
        return bytes(out[:n])
    entries, made, i = [], 0, 0
    while made < size_mb << 20:
        kind = i % 10
        if kind < 6:
            entry = ("Skin/page%d.html" % i, text(rnd.choice([700, 4096, 30000, 250000])), False)
        elif kind < 8:
            entry = ("bin/lib%d.dll" % i, os.urandom(rnd.choice([200000, 2000000])), False)
        elif kind == 8:
            entry = ("doc/notes%d.txt" % i, text(6000000), False)
        else:
            entry = ("media/img%d.png" % i, os.urandom(500000), True)
        entries.append(entry)
        made += len(entry[1])
        i += 1
    return entries
