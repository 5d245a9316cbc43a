// Writing usage maps: the set of pages that belong to a table, an index or a long-value column, and page 1's map of
// free pages. Reading them is jet/format/usage_map.h.
//
// A map is one row on a data page:
//   type 0 (inline):    0x00, 4-byte start page, bitmap; bit i (LSB first) = page start + i
//   type 1 (reference): 0x01, then 4-byte page numbers of 0x05 bitmap pages; entry k covers pages k*B .. (k+1)*B-1
//                       with B = (page size - 4) * 8; 0 = no pages in that range
//   0x05 page:          0x05, 0x01, 0x00, 0x00, then the bitmap
// Observed in the samples:
//   - Jet's own maps are 133 bytes (Jet 3: 128-byte bitmap) or 69 bytes (Jet 4: 64-byte bitmap) and start at page 0.
//     A type-1 row has the same length: 33 (Jet 3) or 17 (Jet 4) entries, enough for the largest file of either.
//   - Jet 4 grows inline maps instead of moving their start page: rows of 97, 101 and 105 bytes start at 0, their
//     bitmaps a multiple of 4 bytes covering the file at the time it grew. Some maps of usual size (in files Jackcess
//     wrote to) start at a multiple of 8 instead (736, 744, 752, ...), which readers handle the same way.
//   - Page 1 row 0, the map of free pages, counts every page from the end of the file to the end of its bitmap as
//     free (a 40-page Jet 3 file marks 984 pages from 40 on), and its bitmap grows to cover the file: 96 bytes for a
//     743-page file, 100 bytes for 772 pages. Row 1 is an empty inline map. Page 1's owner field is 1.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/format/format.h"

namespace jet {

// An encoded map: the row to store, plus the 0x05 bitmap pages it refers to (empty for inline maps).
struct EncodedUsageMap {
  std::vector<uint8_t> row;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> bitmapPages;  // (page number, page bytes)
};

// An inline map with the given start page and bitmap length. Throws InvalidArgument when a page lies outside
// [startPage, startPage + 8 * bitmapBytes).
std::vector<uint8_t> encodeInlineUsageMap(std::span<const uint32_t> pages, uint32_t startPage, uint32_t bitmapBytes);

// Pages one 0x05 bitmap page covers.
uint32_t pagesPerBitmapPage(const Format& format);

// The map of a table, index or long-value column. Inline with Jet's usual size when the pages fit: starting at page
// 0 when they can, otherwise at the lowest page rounded down to a multiple of 8. Otherwise a reference map, asking
// allocatePage for a page number for each 0x05 page it needs (in ascending order of the pages they cover).
EncodedUsageMap encodeUsageMap(const Format& format, std::vector<uint32_t> pages,
                               const std::function<uint32_t()>& allocatePage);

// Page 1 row 0 for a file of pageCount pages: the given free pages (all < pageCount) plus every page from pageCount
// to the end of the bitmap. Inline from page 0, its bitmap grown in steps of 4 bytes to cover the file, while it fits
// page 1; a reference map (pages from allocatePage) for larger files.
EncodedUsageMap encodeFreePageMap(const Format& format, std::vector<uint32_t> freePages, uint32_t pageCount,
                                  const std::function<uint32_t()>& allocatePage);

// Page 1: a data page owned by page 1 holding the free-page map (row 0) and an empty inline map (row 1).
std::vector<uint8_t> buildFreeMapPage(const Format& format, const std::vector<uint8_t>& freeMapRow);

}  // namespace jet
