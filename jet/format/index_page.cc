#include "jet/format/index_page.h"

#include <algorithm>
#include <string>

#include "jet/errors.h"
#include "jet/format/index_tree_writer.h"
#include "jet/format/put_bytes.h"

namespace jet {
namespace {

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

uint32_t be24(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
uint32_t be32(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 24) | be24(p + 1); }

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
  IndexPage out;
  decodeIndexPage(format, page, pageNumber, out);
  return out;
}

void decodeIndexPage(const Format& format, Bytes page, uint32_t pageNumber, IndexPage& out) {
  if (page.size() != format.pageSize) corruptPage(pageNumber, "page has " + std::to_string(page.size()) + " bytes");
  std::vector<IndexEntry> buffers = std::move(out.entries);
  out = IndexPage{};
  out.entries = std::move(buffers);
  size_t count = 0;
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
  out.prefixLength =
      prefixFieldSize(format) == 1 ? page[format.indexPrefixLength] : le16(page.data() + format.indexPrefixLength);
  out.nodeMarker = page[nodeMarkerOffset(format)];
  if (format.version == Version::Jet4) out.jet4Reserved = le32(page.data() + 8);

  const size_t start = format.indexEntriesStart;
  const size_t area = format.pageSize - start;
  const size_t bits = std::min<size_t>(format.indexBitmaskLength * 8u, area + 1);
  // Bits past the entry area would place an entry end outside the page.
  for (size_t i = bits; i < format.indexBitmaskLength * 8u; ++i) {
    if (page[format.indexBitmask + i / 8] & (1u << (i % 8))) {
      corruptPage(pageNumber,
                  "entry bitmask marks an entry end past the end of the page (bit " + std::to_string(i) + ")");
    }
  }
  if (page[format.indexBitmask] & 1u) corruptPage(pageNumber, "entry bitmask marks an empty first entry");

  size_t entryStart = start;
  const uint8_t* first = nullptr;
  size_t firstSize = 0;
  const size_t minSize = out.leaf ? kIndexRowPointerSize : kIndexRowPointerSize + kIndexChildPointerSize;
  for (size_t i = 1; i < bits; ++i) {
    if (!(page[format.indexBitmask + i / 8] & (1u << (i % 8)))) continue;
    size_t entryEnd = start + i;
    const uint8_t* stored = page.data() + entryStart;
    size_t storedSize = entryEnd - entryStart;
    if (count == out.entries.size()) out.entries.emplace_back();
    IndexEntry& entry = out.entries[count];
    if (first == nullptr) {
      entry.assign(stored, stored + storedSize);
      first = stored;
      firstSize = storedSize;
      if (out.prefixLength > firstSize) {
        corruptPage(pageNumber, "prefix length " + std::to_string(out.prefixLength) + " exceeds the first entry (" +
                                    std::to_string(firstSize) + " bytes)");
      }
    } else {
      entry.assign(first, first + out.prefixLength);
      entry.insert(entry.end(), stored, stored + storedSize);
    }
    if (entry.size() < minSize) {
      corruptPage(pageNumber, "entry " + std::to_string(count) + " has " + std::to_string(entry.size()) +
                                  " bytes, too short for its " + (out.leaf ? "row pointer" : "row and child pointers"));
    }
    ++count;
    entryStart = entryEnd;
  }
  out.entries.resize(count);
  out.usedBytes = static_cast<uint16_t>(entryStart - start);
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
      if (e.size() <= in.prefixLength || !std::equal(first.begin(), first.begin() + in.prefixLength, e.begin())) {
        invalid("entry " + std::to_string(i) + " does not share the page prefix of " + std::to_string(in.prefixLength) +
                " bytes");
      }
    }
  }
  std::vector<uint8_t> page(format.pageSize, 0);
  page[0] = in.leaf ? kLeafType : kNodeType;
  page[1] = 0x01;
  putLe32(page.data() + 4, in.owner);
  if (format.version == Version::Jet4) putLe32(page.data() + 8, in.jet4Reserved);
  putLe32(page.data() + format.indexPrevPage, in.prevPage);
  putLe32(page.data() + format.indexNextPage, in.nextPage);
  putLe32(page.data() + format.indexTailPage, in.tailPage);
  if (prefixFieldSize(format) == 1) {
    page[format.indexPrefixLength] = static_cast<uint8_t>(in.prefixLength);
  } else {
    putLe16(page.data() + format.indexPrefixLength, in.prefixLength);
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
  putLe16(page.data() + 2, static_cast<uint32_t>(area - (at - start)));
  return page;
}

IndexEntryParts splitLeafEntry(Bytes entry) {
  if (entry.size() < kIndexRowPointerSize) {
    fail(ErrorCode::Corrupt, "index entry of " + std::to_string(entry.size()) + " bytes has no row pointer");
  }
  size_t keySize = entry.size() - kIndexRowPointerSize;
  IndexEntryParts parts;
  parts.key = entry.first(keySize);
  parts.row.page = be24(entry.data() + keySize);
  parts.row.row = entry[keySize + 3];
  return parts;
}

IndexEntryParts splitNodeEntry(Bytes entry) {
  if (entry.size() < kIndexRowPointerSize + kIndexChildPointerSize) {
    fail(ErrorCode::Corrupt, "index node entry of " + std::to_string(entry.size()) + " bytes has no child pointer");
  }
  IndexEntryParts parts = splitLeafEntry(entry.first(entry.size() - kIndexChildPointerSize));
  parts.childPage = be32(entry.data() + entry.size() - kIndexChildPointerSize);
  return parts;
}

IndexEntry makeLeafEntry(Bytes key, RowPointer row) {
  IndexEntry e;
  makeLeafEntry(key, row, e);
  return e;
}

void makeLeafEntry(Bytes key, RowPointer row, IndexEntry& out) {
  out.assign(key.begin(), key.end());
  const uint8_t pointer[kIndexRowPointerSize] = {static_cast<uint8_t>(row.page >> 16),
                                                 static_cast<uint8_t>(row.page >> 8), static_cast<uint8_t>(row.page),
                                                 row.row};
  out.insert(out.end(), pointer, pointer + kIndexRowPointerSize);
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
  std::sort(leafEntries.begin(), leafEntries.end(), indexEntryLess);
  // The streaming writer numbers pages as it needs them, leaves first and the root last. The first pass only counts
  // the pages of each level, so that the second can hand out the numbers of a tree laid out root first.
  std::vector<uint32_t> perLevel;
  {
    uint32_t counted = 0;
    IndexTreeWriter dryRun(format, ownerTdef,
                           {[&counted] { return counted++; }, [](uint32_t, std::vector<uint8_t>) {}});
    for (const IndexEntry& e : leafEntries) dryRun.add(e);
    perLevel = dryRun.finish().pagesPerLevel;
  }
  std::vector<uint32_t> numbers;  // in the order the writer asks for them
  uint32_t above = 0;             // pages of the levels above the current one
  for (size_t l = perLevel.size(); l-- > 0;) above += perLevel[l];
  for (uint32_t count : perLevel) {
    above -= count;
    for (uint32_t i = 0; i < count; ++i) numbers.push_back(firstPage + above + i);
  }

  IndexTree tree;
  tree.pages.resize(numbers.size());
  size_t handed = 0;
  IndexTreeWriter writer(
      format, ownerTdef,
      {[&] { return numbers.at(handed++); },
       [&](uint32_t n, std::vector<uint8_t> page) { tree.pages.at(n - firstPage) = std::move(page); }});
  for (IndexEntry& e : leafEntries) writer.add(std::move(e));
  WrittenIndexTree written = writer.finish();
  tree.rootPage = written.rootPage;
  tree.levels = static_cast<uint32_t>(written.pagesPerLevel.size());
  tree.leafPageCount = written.pagesPerLevel.front();
  tree.distinctKeys = static_cast<uint32_t>(written.distinctKeys);
  return tree;
}

}  // namespace jet
