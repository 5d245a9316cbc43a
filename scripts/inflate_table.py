#!/usr/bin/env python3
"""Makes a large Jet 4 database for reading benchmarks from a small one, without a database writer.

It packs one data page of TABLE as full of copies of its existing rows as the page holds, appends COPIES copies of
that page, and turns the table's owned-pages usage map into the reference form (type 1) that points at a new
usage-map page listing every copy. Everything else in the file stays as it was, so any reader that follows usage
maps (this engine, mdbtools) reads the same rows. The output is for benchmarks only: indexes do not know the new
rows.

    inflate_table.py SOURCE.mdb TABLE_TDEF_PAGE COPIES OUTPUT.mdb
"""
import struct
import sys

PAGE = 4096
ROW_COUNT = 12  # Jet 4 data page: 2-byte row count here, then 2-byte offsets


def rows_of(page):
    count = struct.unpack_from("<H", page, ROW_COUNT)[0]
    rows = []
    end = PAGE
    for i in range(count):
        raw = struct.unpack_from("<H", page, ROW_COUNT + 2 + 2 * i)[0]
        start = raw & 0x1FFF
        if not raw & 0xC000:
            rows.append(bytes(page[start:end]))
        end = start
    return rows


def packed_page(template, rows):
    page = bytearray(PAGE)
    page[0:ROW_COUNT] = template[0:ROW_COUNT]
    end = PAGE
    offsets = []
    k = 0
    while len(offsets) < 255:
        row = rows[k % len(rows)]
        table_end = ROW_COUNT + 2 + 2 * (len(offsets) + 1)
        if end - len(row) < table_end:
            break
        end -= len(row)
        page[end:end + len(row)] = row
        offsets.append(end)
        k += 1
    struct.pack_into("<H", page, ROW_COUNT, len(offsets))
    for i, off in enumerate(offsets):
        struct.pack_into("<H", page, ROW_COUNT + 2 + 2 * i, off)
    struct.pack_into("<H", page, 2, end - (ROW_COUNT + 2 + 2 * len(offsets)))  # free space
    return page


def main():
    source, tdef_page, copies, output = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    data = bytearray(open(source, "rb").read())
    if data[0x14] != 1:
        sys.exit("only Jet 4 files are supported")
    pages = len(data) // PAGE
    tdef = data[tdef_page * PAGE:(tdef_page + 1) * PAGE]
    owned = struct.unpack_from("<I", tdef, 55)[0]
    map_page, map_row = owned >> 8, owned & 0xFF
    mp = data[map_page * PAGE:(map_page + 1) * PAGE]
    raw = struct.unpack_from("<H", mp, ROW_COUNT + 2 + 2 * map_row)[0]
    start = raw & 0x1FFF
    end = PAGE if map_row == 0 else struct.unpack_from("<H", mp, ROW_COUNT + 2 * map_row)[0] & 0x1FFF
    if mp[start] != 0:
        sys.exit("the table's map is not inline")
    first = struct.unpack_from("<I", mp, start + 1)[0]
    owned_pages = [first + i for i in range((end - start - 5) * 8) if mp[start + 5 + i // 8] >> (i % 8) & 1]
    template = next(data[p * PAGE:(p + 1) * PAGE] for p in owned_pages
                    if data[p * PAGE] == 1 and struct.unpack_from("<I", data, p * PAGE + 4)[0] == tdef_page)
    page = packed_page(template, rows_of(template))
    bitmap_page = pages
    new_pages = list(range(pages + 1, pages + 1 + copies))
    if new_pages[-1] >= (PAGE - 4) * 8:
        sys.exit("too many copies for one usage-map page")
    bitmap = bytearray(PAGE)
    bitmap[0], bitmap[1] = 0x05, 0x01
    for p in owned_pages + new_pages:
        bitmap[4 + p // 8] |= 1 << (p % 8)
    # The map row keeps its length: type 1, then the usage-map page for pages 0..32735, then zero pointers.
    mp[start:end] = bytes([1]) + struct.pack("<I", bitmap_page) + bytes(end - start - 5)
    data[map_page * PAGE:(map_page + 1) * PAGE] = mp
    data += bitmap
    for _ in new_pages:
        data += page
    open(output, "wb").write(data)
    rows = struct.unpack_from("<H", page, ROW_COUNT)[0]
    print(f"{output}: {len(data) // PAGE} pages, {copies} added pages of {rows} rows")


if __name__ == "__main__":
    main()
