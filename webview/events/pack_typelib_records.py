#!/usr/bin/env python3
"""Lays out the records of a type library with 4-byte packing, in place.

widl places a double on an 8-byte boundary in the records it writes to a type library, whatever packing
the IDL asks for. The library's records are declared with 4-byte packing (the layout its C++ code and
its clients compile with, e.g. wkeMediaLoadInfo is 20 bytes with the double at offset 12), so the type
library must say the same, or clients that read records through it would look in the wrong place.
This rewrites, for every record whose alignment exceeds 4, each field's offset, the record's size and its
alignment. Only records made of base types are touched; anything else is left as widl wrote it.
"""
import struct
import sys

TKIND_RECORD = 1
BASE_SIZES = {2: 2, 3: 4, 4: 4, 5: 8, 6: 8, 7: 8, 10: 4, 11: 2, 16: 1, 17: 1, 18: 2, 19: 4, 20: 8, 21: 8,
              22: 4, 23: 4}  # VARTYPE -> bytes
PACK = 4


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def main(path):
    data = bytearray(open(path, "rb").read())
    if data[:4] != b"MSFT":
        sys.exit(f"{path}: not an MSFT type library")
    count = u32(data, 0x20)
    varflags = u32(data, 0x14)
    offsets_at = 0x54 + (4 if varflags & 0x100 else 0)
    segments_at = offsets_at + 4 * count
    typeinfo_table = u32(data, segments_at)  # segment 0: the typeinfo table
    changed = 0
    for index in range(count):
        base = typeinfo_table + index * 0x64
        typekind = u32(data, base)
        alignment = (typekind >> 11) & 0x1F
        if typekind & 0xF != TKIND_RECORD or alignment <= PACK:
            continue
        memoffset = u32(data, base + 0x04)
        elements = u32(data, base + 0x18)
        funcs, fields = elements & 0xFFFF, elements >> 16
        if funcs:
            continue
        layout = []
        record = memoffset + 4
        for _ in range(fields):
            datatype = u32(data, record + 4)
            vt = datatype & 0xFFFF
            if not datatype & 0x80000000 or vt not in BASE_SIZES:
                layout = None
                break
            layout.append((record, BASE_SIZES[vt]))
            record += u32(data, record) & 0xFFFF
        if not layout:
            continue
        offset, widest = 0, 1
        for record, size in layout:
            align = min(size, PACK)
            widest = max(widest, align)
            offset = (offset + align - 1) // align * align
            struct.pack_into("<I", data, record + 16, offset)
            offset += size
        size = (offset + widest - 1) // widest * widest
        struct.pack_into("<I", data, base + 0x50, size)
        struct.pack_into("<I", data, base, (typekind & ~(0x1F << 11)) | (widest << 11))
        changed += 1
    open(path, "wb").write(data)
    print(f"{path}: {changed} record(s) laid out with {PACK}-byte packing")


if __name__ == "__main__":
    main(sys.argv[1])
