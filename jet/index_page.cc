#include "jet/index_page.h"

#include <algorithm>
#include <string>

#include "jet/errors.h"

namespace jet {
namespace {

constexpr size_t kRowPointerSize = 4;  // 3-byte big-endian page + row
constexpr size_t kChildPointerSize = 4;
constexpr uint8_t kLeafType = static_cast<uint8_t>(PageType::IndexLeaf);
constexpr uint8_t kNodeType = static_cast<uint8_t>(PageType::IndexNode);

// Offsets that differ between versions beyond what Format lists.
uint32_t nodeMarkerOffset(const Format& f) { return f.version == Version::Jet3 ? 21 : 26; }
uint32_t prefixFieldSize(const Format& f) { return f.version == Version::Jet3 ? 1 : 2; }
size_t maxPrefix(const Format& f) { return prefixFieldSize(f) == 1 ? 0xFF : 0xFFFF; }

[[noreturn]] void corruptPage(uint32_t pageNumber, const std::string& what) {
  fail(ErrorCode::Corrupt, "index page " + std::to_string(pageNumber) + ": " + what);
}

[[noreturn]] void invalid(const std::string& what) { fail(ErrorCode::InvalidArgument, "index page encoding: " + what); }

void put16(std::vector<uint8_t>& p, size_t at, uint32_t v) {
  p[at] = static_cast<uint8_t>(v);
  p[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& p, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t be24(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
uint32_t be32(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 24) | be24(p + 1); }

// Greedy packing of sorted entries with a page-wide prefix: how many entries, from `from` on, fit one page. Adding an
// entry can only shorten the shared prefix, which makes every earlier entry longer, so the total is recomputed.
size_t entriesThatFit(std::span<const IndexEntry> entries, size_t from, uint32_t capacity, size_t prefixLimit) {
  if (from >= entries.size()) return 0;
  const IndexEntry& first = entries[from];
  size_t total = 0;
  size_t prefix = std::min(first.size(), prefixLimit);
  size_t count = 0;
  for (size_t i = from; i < entries.size(); ++i) {
    const IndexEntry& e = entries[i];
    size_t newPrefix = prefix;
    if (i > from) {
      size_t common = 0;
      size_t limit = std::min({first.size(), e.size(), newPrefix});
      while (common < limit && first[common] == e[common]) ++common;
      newPrefix = std::min(common, e.size() - 1);
    }
    size_t raw = total + e.size();
    size_t n = i - from;  // entries that omit the prefix
    size_t used = raw - (n > 0 ? newPrefix * n : 0);
    if (used > capacity) break;
    total = raw;
    prefix = newPrefix;
    count = n + 1;
  }
  return count;
}

}  // namespace

uint32_t indexEntryAreaSize(const Format& format) { return format.pageSize - format.indexEntriesStart; }

uint16_t sharedPrefixLength(std::span<const IndexEntry> sorted) {
  if (sorted.size() < 2) return 0;
  const IndexEntry& first = sorted.front();
  const IndexEntry& last = sorted.back();
  size_t limit = std::min(first.size(), last.size());
  size_t n = 0;
  while (n < limit && first[n] == last[n]) ++n;
  // Every later entry must keep one byte of its own so that the bitmask can mark its end.
  for (size_t i = 1; i < sorted.size(); ++i) n = std::min(n, sorted[i].size() - 1);
  return static_cast<uint16_t>(std::min<size_t>(n, 0xFFFF));
}

IndexPage decodeIndexPage(const Format& format, Bytes page, uint32_t pageNumber) {
  if (page.size() != format.pageSize) corruptPage(pageNumber, "page has " + std::to_string(page.size()) + " bytes");
  IndexPage out;
  uint8_t type = page[0];
  if (type != kLeafType && type != kNodeType) {
    corruptPage(pageNumber, "page type " + std::to_string(type) + " is not an index page");
  }
  out.leaf = type == kLeafType;
  out.freeSpace = le16(page.data() + 2);
  out.owner = le32(page.data() + 4);
  out.prevPage = le32(page.data() + format.indexPrevPage);
  out.nextPage = le32(page.data() + format.indexNextPage);
  out.tailPage = le32(page.data() + format.indexTailPage);
  out.prefixLength = prefixFieldSize(format) == 1 ? page[format.indexPrefixLength]
                                                  : le16(page.data() + format.indexPrefixLength);
  out.nodeMarker = page[nodeMarkerOffset(format)];
  if (format.version == Version::Jet4) out.jet4Reserved = le32(page.data() + 8);

  const size_t start = format.indexEntriesStart;
  const size_t area = format.pageSize - start;
  const size_t bits = std::min<size_t>(format.indexBitmaskLength * 8u, area + 1);
  // Bits past the entry area would place an entry end outside the page.
  for (size_t i = bits; i < format.indexBitmaskLength * 8u; ++i) {
    if (page[format.indexBitmask + i / 8] & (1u << (i % 8))) {
      corruptPage(pageNumber, "entry bitmask marks an entry end past the end of the page (bit " + std::to_string(i) +
                                  ")");
    }
  }
  if (page[format.indexBitmask] & 1u) corruptPage(pageNumber, "entry bitmask marks an empty first entry");

  size_t entryStart = start;
  const uint8_t* first = nullptr;
  size_t firstSize = 0;
  const size_t minSize = out.leaf ? kRowPointerSize : kRowPointerSize + kChildPointerSize;
  for (size_t i = 1; i < bits; ++i) {
    if (!(page[format.indexBitmask + i / 8] & (1u << (i % 8)))) continue;
    size_t entryEnd = start + i;
    const uint8_t* stored = page.data() + entryStart;
    size_t storedSize = entryEnd - entryStart;
    IndexEntry entry;
    if (first == nullptr) {
      entry.assign(stored, stored + storedSize);
      first = stored;
      firstSize = storedSize;
      if (out.prefixLength > firstSize) {
        corruptPage(pageNumber, "prefix length " + std::to_string(out.prefixLength) + " exceeds the first entry (" +
                                    std::to_string(firstSize) + " bytes)");
      }
    } else {
      entry.reserve(out.prefixLength + storedSize);
      entry.assign(first, first + out.prefixLength);
      entry.insert(entry.end(), stored, stored + storedSize);
    }
    if (entry.size() < minSize) {
      corruptPage(pageNumber, "entry " + std::to_string(out.entries.size()) + " has " + std::to_string(entry.size()) +
                                  " bytes, too short for its " + (out.leaf ? "row pointer" : "row and child pointers"));
    }
    out.entries.push_back(std::move(entry));
    entryStart = entryEnd;
  }
  out.usedBytes = static_cast<uint16_t>(entryStart - start);
  return out;
}

std::vector<uint8_t> encodeIndexPage(const Format& format, const IndexPage& in) {
  const size_t start = format.indexEntriesStart;
  const size_t area = indexEntryAreaSize(format);
  if (in.prefixLength > maxPrefix(format)) invalid("prefix length too large");
  if (!in.entries.empty() && in.prefixLength > 0) {
    const IndexEntry& first = in.entries.front();
    if (first.size() < in.prefixLength) invalid("the first entry is shorter than the page prefix");
    for (size_t i = 1; i < in.entries.size(); ++i) {
      const IndexEntry& e = in.entries[i];
      if (e.size() <= in.prefixLength ||
          !std::equal(first.begin(), first.begin() + in.prefixLength, e.begin())) {
        invalid("entry " + std::to_string(i) + " does not share the page prefix of " +
                std::to_string(in.prefixLength) + " bytes");
      }
    }
  }
  std::vector<uint8_t> page(format.pageSize, 0);
  page[0] = in.leaf ? kLeafType : kNodeType;
  page[1] = 0x01;
  put32(page, 4, in.owner);
  if (format.version == Version::Jet4) put32(page, 8, in.jet4Reserved);
  put32(page, format.indexPrevPage, in.prevPage);
  put32(page, format.indexNextPage, in.nextPage);
  put32(page, format.indexTailPage, in.tailPage);
  if (prefixFieldSize(format) == 1) {
    page[format.indexPrefixLength] = static_cast<uint8_t>(in.prefixLength);
  } else {
    put16(page, format.indexPrefixLength, in.prefixLength);
  }
  page[nodeMarkerOffset(format)] = in.leaf ? 0 : 1;

  size_t at = start;
  for (size_t i = 0; i < in.entries.size(); ++i) {
    const IndexEntry& e = in.entries[i];
    size_t skip = i == 0 ? 0 : in.prefixLength;
    if (e.size() <= skip) invalid("entry " + std::to_string(i) + " is empty");
    size_t stored = e.size() - skip;
    if (stored > format.pageSize - at) {
      invalid(std::to_string(in.entries.size()) + " entries do not fit on one page");
    }
    std::copy(e.begin() + static_cast<std::ptrdiff_t>(skip), e.end(), page.begin() + static_cast<std::ptrdiff_t>(at));
    at += stored;
    size_t bit = at - start;
    page[format.indexBitmask + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  }
  put16(page, 2, static_cast<uint32_t>(area - (at - start)));
  return page;
}

IndexEntryParts splitLeafEntry(Bytes entry) {
  if (entry.size() < kRowPointerSize) {
    fail(ErrorCode::Corrupt, "index entry of " + std::to_string(entry.size()) + " bytes has no row pointer");
  }
  size_t keySize = entry.size() - kRowPointerSize;
  IndexEntryParts parts;
  parts.key = entry.first(keySize);
  parts.row.page = be24(entry.data() + keySize);
  parts.row.row = entry[keySize + 3];
  return parts;
}

IndexEntryParts splitNodeEntry(Bytes entry) {
  if (entry.size() < kRowPointerSize + kChildPointerSize) {
    fail(ErrorCode::Corrupt, "index node entry of " + std::to_string(entry.size()) + " bytes has no child pointer");
  }
  IndexEntryParts parts = splitLeafEntry(entry.first(entry.size() - kChildPointerSize));
  parts.childPage = be32(entry.data() + entry.size() - kChildPointerSize);
  return parts;
}

IndexEntry makeLeafEntry(Bytes key, RowPointer row) {
  IndexEntry e(key.begin(), key.end());
  e.push_back(static_cast<uint8_t>(row.page >> 16));
  e.push_back(static_cast<uint8_t>(row.page >> 8));
  e.push_back(static_cast<uint8_t>(row.page));
  e.push_back(row.row);
  return e;
}

IndexEntry makeNodeEntry(Bytes leafEntry, uint32_t childPage) {
  IndexEntry e(leafEntry.begin(), leafEntry.end());
  for (int shift = 24; shift >= 0; shift -= 8) e.push_back(static_cast<uint8_t>(childPage >> shift));
  return e;
}

bool indexEntryLess(const IndexEntry& a, const IndexEntry& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

IndexTree buildIndexTree(const Format& format, uint32_t ownerTdef, std::vector<IndexEntry> leafEntries,
                         uint32_t firstPage) {
  const uint32_t capacity = indexEntryAreaSize(format);
  std::sort(leafEntries.begin(), leafEntries.end(), indexEntryLess);
  for (size_t i = 0; i < leafEntries.size(); ++i) {
    if (leafEntries[i].size() < kRowPointerSize) invalid("leaf entry without a row pointer");
    if (leafEntries[i].size() + kChildPointerSize > capacity) invalid("entry too large for an index page");
    if (i > 0 && leafEntries[i] == leafEntries[i - 1]) invalid("the same entry appears twice");
  }

  // A page under construction: its entries, its children (node pages) and the last leaf entry below it.
  struct Draft {
    IndexPage page;
    std::vector<size_t> children;  // indexes into the level below
    IndexEntry lastLeafEntry;
  };
  std::vector<std::vector<Draft>> levels;  // levels[0] = leaves

  // Leaves: fill each page completely.
  std::vector<Draft> leaves;
  std::span<const IndexEntry> all(leafEntries);
  size_t from = 0;
  do {
    Draft d;
    d.page.leaf = true;
    size_t n = entriesThatFit(all, from, capacity, maxPrefix(format));
    d.page.entries.assign(leafEntries.begin() + static_cast<std::ptrdiff_t>(from),
                          leafEntries.begin() + static_cast<std::ptrdiff_t>(from + n));
    d.page.prefixLength = static_cast<uint16_t>(std::min<size_t>(sharedPrefixLength(d.page.entries), maxPrefix(format)));
    if (n > 0) d.lastLeafEntry = d.page.entries.back();
    leaves.push_back(std::move(d));
    from += n;
  } while (from < leafEntries.size());
  levels.push_back(std::move(leaves));

  // Node levels: each page lists all its children but the last, which it reaches through the tail pointer. The
  // page numbers are not known yet, so child pointers are filled in once every page has its number.
  while (levels.back().size() > 1) {
    const std::vector<Draft>& below = levels.back();
    std::vector<Draft> level;
    size_t a = 0;
    while (a < below.size()) {
      // Grow the group [a, b) while the entries of all children but the last (the tail) fit.
      size_t b = a + 1;
      size_t stored = 0;
      while (b < below.size()) {
        size_t next = stored + below[b - 1].lastLeafEntry.size() + kChildPointerSize;
        if (next > capacity) break;
        stored = next;
        ++b;
      }
      // Never leave a lone child for the last page when a bigger group can give one up.
      if (below.size() - b == 1 && b - a >= 3) --b;
      Draft d;
      d.page.leaf = false;
      for (size_t c = a; c < b; ++c) d.children.push_back(c);
      d.lastLeafEntry = below[b - 1].lastLeafEntry;
      level.push_back(std::move(d));
      a = b;
    }
    levels.push_back(std::move(level));
  }

  // Number the pages: root first, then each level below in key order.
  std::vector<std::vector<uint32_t>> numbers(levels.size());
  uint32_t next = firstPage;
  for (size_t l = levels.size(); l-- > 0;) {
    for (size_t i = 0; i < levels[l].size(); ++i) numbers[l].push_back(next++);
  }

  // Links: leaves form one chain; node pages are chained only among children of one parent.
  for (size_t i = 0; i < levels[0].size(); ++i) {
    IndexPage& p = levels[0][i].page;
    p.prevPage = i > 0 ? numbers[0][i - 1] : 0;
    p.nextPage = i + 1 < levels[0].size() ? numbers[0][i + 1] : 0;
  }
  for (size_t l = 1; l < levels.size(); ++l) {
    for (Draft& d : levels[l]) {
      const std::vector<size_t>& kids = d.children;
      if (kids.size() == 1) {
        d.page.entries.push_back(makeNodeEntry(levels[l - 1][kids[0]].lastLeafEntry, numbers[l - 1][kids[0]]));
      } else {
        for (size_t k = 0; k + 1 < kids.size(); ++k) {
          d.page.entries.push_back(makeNodeEntry(levels[l - 1][kids[k]].lastLeafEntry, numbers[l - 1][kids[k]]));
        }
        d.page.tailPage = numbers[l - 1][kids.back()];
      }
      if (l - 1 > 0) {
        for (size_t k = 0; k < kids.size(); ++k) {
          IndexPage& child = levels[l - 1][kids[k]].page;
          child.prevPage = k > 0 ? numbers[l - 1][kids[k - 1]] : 0;
          child.nextPage = k + 1 < kids.size() ? numbers[l - 1][kids[k + 1]] : 0;
        }
      }
    }
  }

  IndexTree tree;
  for (size_t i = 0; i < leafEntries.size(); ++i) {
    const IndexEntry& e = leafEntries[i];
    if (i == 0 || !std::equal(e.begin(), e.end() - kRowPointerSize, leafEntries[i - 1].begin(),
                              leafEntries[i - 1].end() - kRowPointerSize)) {
      ++tree.distinctKeys;
    }
  }
  tree.rootPage = firstPage;
  tree.levels = static_cast<uint32_t>(levels.size());
  tree.leafPageCount = static_cast<uint32_t>(levels[0].size());
  for (size_t l = levels.size(); l-- > 0;) {
    for (Draft& d : levels[l]) {
      d.page.owner = ownerTdef;
      tree.pages.push_back(encodeIndexPage(format, d.page));
    }
  }
  return tree;
}

}  // namespace jet
