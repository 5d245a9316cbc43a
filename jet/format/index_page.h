// Index pages: decoding one page into its entries, and laying out a whole index tree from sorted entries.
//
// Layout (offsets Jet 3 / Jet 4):
//   0      page type: 0x03 node (interior) or 0x04 leaf; byte 1 is always 0x01
//   2      free space: page size - entries start - bytes used by entries (agrees on every sample page)
//   4      owning TDEF page
//   8      Jet 4 only: 4 bytes, zero on every sample page
//   8/12   previous page, 12/16 next page, 16/20 tail page
//   20/24  prefix length: ONE byte in Jet 3, two in Jet 4
//   21/26  0x01 on every node page, 0x00 on every leaf page
//   22/27  entry-end bitmask (226/453 bytes); bit i set = an entry ends at entries start + i
//   0xF8/0x1E0  entries, packed back to back
// Every entry's end is marked, the last one's included, so the page holds exactly as many entries as set bits.
//
// An entry is the index key, then a 3-byte big-endian data page and a 1-byte row. A node entry appends the child page
// as a 4-byte big-endian number. The first entry on a page is stored whole; each later one omits the page's first
// prefix-length bytes, which it shares with the first entry. As the row pointer is part of the compared bytes the
// shared prefix can run into it.
//
// Observed in the samples (the Jet 3 ones written by Access 97; some Jet 4 ones touched by Jackcess):
//   - A node entry holds the LAST entry of its child's subtree plus the child page. The last child is not listed: it
//     is reached through the node's tail pointer (e.g. a root with 2 entries + tail = 3 leaves). Leaves have tail 0.
//   - Leaves of one index form one prev/next chain in key order; a root has prev = next = 0. No sample index has
//     more than two levels; for deeper trees we follow Jackcess, whose writer links node pages only to siblings under
//     the same parent and gives every node page with more than one child its own tail.
//   - Node pages carry prefix length 0 even when their entries share leading bytes. Leaves made by a split carry the
//     longest prefix common to all entries (= common to the first and last); other leaves often carry 0. Any prefix
//     up to the common one decodes the same.
//   - Jet fills a leaf to within 1-5 bytes of the page end before it splits it (Jet 3); the page that receives the
//     upper entries of a split is left part-full.
//   - Bytes after the last entry are often stale (entries that moved away); they mean nothing.
//   - The key count a TDEF keeps per real index equals the number of distinct keys in 346 of the 413 sample indexes;
//     the others are stale (left high after deletions, once lower).
// Our tree builder therefore fills every leaf but the last completely, gives leaves the longest common prefix, and
// writes nodes without prefix. Keys are opaque bytes here; this file never interprets them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/format.h"

namespace jet {

using IndexEntry = std::vector<uint8_t>;

// The row pointer that ends every entry (3-byte big-endian page, then the row), and the child page a node entry adds.
inline constexpr size_t kIndexRowPointerSize = 4;
inline constexpr size_t kIndexChildPointerSize = 4;

// The decoded form of one index page, and the input of encodeIndexPage.
struct IndexPage {
  bool leaf = true;
  uint32_t owner = 0;  // TDEF page of the table
  uint32_t prevPage = 0;
  uint32_t nextPage = 0;
  uint32_t tailPage = 0;
  uint16_t prefixLength = 0;
  uint16_t freeSpace = 0;           // as stored; decode does not insist that it agrees with usedBytes
  uint16_t usedBytes = 0;           // bytes of the entry area taken by entries (as found by decode)
  uint8_t nodeMarker = 0;           // byte 0x15 (Jet 3) / 0x1A (Jet 4): 1 on node pages
  uint32_t jet4Reserved = 0;        // Jet 4 bytes 8-11
  std::vector<IndexEntry> entries;  // whole entries, prefix restored
};

// Decodes an index page. Throws Corrupt (3049) naming the page when it is not an index page or any field points
// outside the page, the prefix is longer than the first entry, or an entry is too short to hold its pointers.
IndexPage decodeIndexPage(const Format& format, Bytes page, uint32_t pageNumber);
// The same into `out`, reusing the buffers of the entries it already holds (a walk decodes page after page).
void decodeIndexPage(const Format& format, Bytes page, uint32_t pageNumber, IndexPage& out);

// Encodes one page. prefixLength must not exceed the prefix the entries share (and every entry after the first must
// keep at least one byte); freeSpace and usedBytes are computed. Throws InvalidArgument when the entries do not fit.
std::vector<uint8_t> encodeIndexPage(const Format& format, const IndexPage& page);

// Bytes available for entries on one index page.
uint32_t indexEntryAreaSize(const Format& format);

// Length of the longest prefix shared by every entry that still leaves each later entry at least one byte
// (0 for fewer than two entries). Entries must be sorted; only the first and last are compared.
uint16_t sharedPrefixLength(std::span<const IndexEntry> sortedEntries);

// The parts of an entry. Throws Corrupt when the entry is too short.
struct IndexEntryParts {
  Bytes key;
  RowPointer row;
  uint32_t childPage = 0;  // node entries only
};
IndexEntryParts splitLeafEntry(Bytes entry);
IndexEntryParts splitNodeEntry(Bytes entry);
IndexEntry makeLeafEntry(Bytes key, RowPointer row);
void makeLeafEntry(Bytes key, RowPointer row, IndexEntry& out);  // into out's buffer
IndexEntry makeNodeEntry(Bytes leafEntry, uint32_t childPage);

// Compares whole entries as Jet orders them: bytewise, a shorter entry first when it is a prefix of the longer.
bool indexEntryLess(const IndexEntry& a, const IndexEntry& b);

// A complete index laid out on consecutive pages firstPage, firstPage + 1, ...: the root first, then each lower level
// in key order, the leaves last.
struct IndexTree {
  uint32_t rootPage = 0;
  uint32_t leafPageCount = 0;
  uint32_t levels = 0;                      // 1 when the root is a leaf
  uint32_t distinctKeys = 0;                // entries with different key bytes: the key count the TDEF keeps per index
  std::vector<std::vector<uint8_t>> pages;  // pages[i] is page firstPage + i
};

// Sorts the leaf entries (key bytes + row pointer) and builds the tree. An empty index is one empty leaf page.
// Throws InvalidArgument when an entry cannot fit on a page or the same entry appears twice.
IndexTree buildIndexTree(const Format& format, uint32_t ownerTdef, std::vector<IndexEntry> leafEntries,
                         uint32_t firstPage);

}  // namespace jet
