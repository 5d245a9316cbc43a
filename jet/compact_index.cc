#include "jet/compact_index.h"

#include <algorithm>

#include "jet/errors.h"
#include "jet/index_walk.h"

namespace jet {
namespace {

constexpr size_t kRowPointerSize = 4;
constexpr size_t kChildPointerSize = 4;
constexpr uint8_t kIgnoreNulls = 0x02;
constexpr uint8_t kDescending = 0x02;

bool sameKey(const IndexEntry& a, const IndexEntry& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end() - kRowPointerSize, b.begin());
}

// Bytes of a non-null key segment of a fixed-length type after its flag byte; 0 when the length is not fixed.
size_t fixedKeyLength(ColumnType type) {
  switch (type) {
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime: return 8;
    default: return 0;
  }
}

}  // namespace

IndexTreeWriter::IndexTreeWriter(const Format& format, uint32_t owner, PageAllocator& allocator, PageWriter& writer)
    : format_(format),
      owner_(owner),
      allocator_(allocator),
      writer_(writer),
      capacity_(indexEntryAreaSize(format)),
      prefixLimit_(format.version == Version::Jet3 ? 0xFF : 0xFFFF) {}

void IndexTreeWriter::add(IndexEntry entry) {
  if (entry.size() < kRowPointerSize) {
    fail(ErrorCode::InvalidArgument, "an index entry without a row pointer");
  }
  if (entry.size() + kChildPointerSize > capacity_) fail(ErrorCode::InvalidArgument, "an index entry too large for a page");
  if (result_.entries > 0) {
    if (!indexEntryLess(last_, entry)) fail(ErrorCode::InvalidArgument, "index entries out of order or repeated");
    if (!sameKey(last_, entry)) ++result_.distinctKeys;
  } else {
    ++result_.distinctKeys;
  }
  ++result_.entries;
  last_ = entry;

  if (!leaf_.entries.empty()) {
    // Adding an entry can only shorten the prefix the page shares, which lengthens every entry stored after the first.
    const IndexEntry& first = leaf_.entries.front();
    size_t limit = std::min({first.size(), entry.size(), leafPrefix_});
    size_t common = 0;
    while (common < limit && first[common] == entry[common]) ++common;
    size_t prefix = std::min(common, entry.size() - 1);
    size_t later = leaf_.entries.size();  // entries after the first, the new one included
    size_t used = leafBytes_ + entry.size() - prefix * later;
    if (used <= capacity_) {
      leafBytes_ += entry.size();
      leafPrefix_ = prefix;
      leaf_.entries.push_back(std::move(entry));
      return;
    }
    uint32_t next = allocator_.allocate();
    closeLeaf(next);
    leafNumber_ = next;
  } else if (leafPages_.empty() && leafNumber_ == 0) {
    leafNumber_ = allocator_.allocate();
  }
  leafBytes_ = entry.size();
  leafPrefix_ = std::min(entry.size(), prefixLimit_);
  leaf_.entries.push_back(std::move(entry));
}

void IndexTreeWriter::closeLeaf(uint32_t nextPage) {
  leaf_.leaf = true;
  leaf_.owner = owner_;
  leaf_.prevPage = prevLeaf_;
  leaf_.nextPage = nextPage;
  leaf_.tailPage = 0;
  leaf_.prefixLength = static_cast<uint16_t>(std::min<size_t>(sharedPrefixLength(leaf_.entries), prefixLimit_));
  writer_.write(leafNumber_, encodeIndexPage(format_, leaf_));
  result_.pages.push_back(leafNumber_);
  leafLast_.push_back(leaf_.entries.empty() ? IndexEntry{} : leaf_.entries.back());
  leafPages_.push_back(leafNumber_);
  prevLeaf_ = leafNumber_;
  leaf_.entries.clear();
}

IndexTreeWriter::Result IndexTreeWriter::finish() {
  if (leafNumber_ == 0) leafNumber_ = allocator_.allocate();  // an empty index is one empty leaf
  closeLeaf(0);
  if (leafPages_.size() == 1) {
    result_.rootPage = leafPages_.front();
    return result_;
  }

  // Node levels, held in memory: one entry per page of the level below. Each node lists every child but the last,
  // which it reaches through its tail pointer; siblings are linked only under the same parent.
  struct Node {
    std::vector<size_t> kids;
    IndexEntry last;
    uint32_t number = 0;
    uint32_t prev = 0;
    uint32_t next = 0;
  };
  struct Below {
    const IndexEntry* last;
    uint32_t number;
  };
  std::vector<std::vector<Node>> levels;
  std::vector<Below> below;
  for (size_t i = 0; i < leafPages_.size(); ++i) below.push_back({&leafLast_[i], leafPages_[i]});
  std::vector<std::vector<Below>> belowOf;  // belowOf[l] = the children of level l
  while (below.size() > 1) {
    std::vector<Node> level;
    size_t a = 0;
    while (a < below.size()) {
      size_t b = a + 1;
      size_t stored = 0;
      while (b < below.size()) {
        size_t next = stored + below[b - 1].last->size() + kChildPointerSize;
        if (next > capacity_) break;
        stored = next;
        ++b;
      }
      // Never leave a lone child for the last page when a bigger group can give one up.
      if (below.size() - b == 1 && b - a >= 3) --b;
      Node n;
      for (size_t c = a; c < b; ++c) n.kids.push_back(c);
      n.last = *below[b - 1].last;
      level.push_back(std::move(n));
      a = b;
    }
    belowOf.push_back(below);
    levels.push_back(std::move(level));
    for (Node& n : levels.back()) n.number = allocator_.allocate();
    below.clear();
    for (const Node& n : levels.back()) below.push_back({&n.last, n.number});
  }
  // Links of each level's pages come from their parents' grouping.
  for (size_t l = 1; l < levels.size(); ++l) {
    for (const Node& parent : levels[l]) {
      for (size_t k = 0; k < parent.kids.size(); ++k) {
        Node& child = levels[l - 1][parent.kids[k]];
        child.prev = k > 0 ? levels[l - 1][parent.kids[k - 1]].number : 0;
        child.next = k + 1 < parent.kids.size() ? levels[l - 1][parent.kids[k + 1]].number : 0;
      }
    }
  }
  for (size_t l = 0; l < levels.size(); ++l) {
    for (const Node& n : levels[l]) {
      IndexPage page;
      page.leaf = false;
      page.owner = owner_;
      page.prevPage = n.prev;
      page.nextPage = n.next;
      const std::vector<Below>& kids = belowOf[l];
      if (n.kids.size() == 1) {
        page.entries.push_back(makeNodeEntry(*kids[n.kids[0]].last, kids[n.kids[0]].number));
      } else {
        for (size_t k = 0; k + 1 < n.kids.size(); ++k) {
          page.entries.push_back(makeNodeEntry(*kids[n.kids[k]].last, kids[n.kids[k]].number));
        }
        page.tailPage = kids[n.kids.back()].number;
      }
      writer_.write(n.number, encodeIndexPage(format_, page));
      result_.pages.push_back(n.number);
    }
  }
  result_.rootPage = levels.back().front().number;
  return result_;
}

bool remapIdKey(const TableDef& def, const std::vector<RealIndexDef::KeyColumn>& columns,
                const std::vector<size_t>& idColumns, const TableIdMap& ids, std::vector<uint8_t>& key) {
  size_t idLeft = 0;
  for (const RealIndexDef::KeyColumn& kc : columns) {
    for (size_t k : idColumns) idLeft += def.columns[k].number == kc.column ? size_t{1} : size_t{0};
  }
  size_t pos = 0;
  for (const RealIndexDef::KeyColumn& kc : columns) {
    if (idLeft == 0) return true;
    const ColumnDef* col = nullptr;
    bool isId = false;
    for (size_t k = 0; k < def.columns.size(); ++k) {
      if (def.columns[k].number != kc.column) continue;
      col = &def.columns[k];
      isId = std::find(idColumns.begin(), idColumns.end(), k) != idColumns.end();
    }
    if (col == nullptr || pos >= key.size()) return false;
    const bool descending = kc.order == kDescending;
    const uint8_t nullFlag = descending ? 0xFF : 0x00;
    if (isId) --idLeft;
    if (key[pos] == nullFlag) {
      ++pos;
      continue;
    }
    size_t length = fixedKeyLength(col->type);
    if (length == 0 || pos + 1 + length > key.size()) return false;
    if (isId) {
      uint8_t* p = key.data() + pos + 1;
      uint32_t be = 0;
      for (size_t i = 0; i < 4; ++i) be = (be << 8) | static_cast<uint8_t>(descending ? ~p[i] : p[i]);
      int32_t id = static_cast<int32_t>(be ^ 0x80000000u);
      if (TableIdMap::looksLikeTableId(id)) {
        std::optional<uint32_t> to = ids.find(static_cast<uint32_t>(id));
        if (to) {
          uint32_t enc = *to ^ 0x80000000u;
          for (size_t i = 0; i < 4; ++i) {
            uint8_t b = static_cast<uint8_t>(enc >> (24 - 8 * i));
            p[i] = descending ? static_cast<uint8_t>(~b) : b;
          }
        }
      }
    }
    pos += 1 + length;
  }
  return true;
}

RebuiltIndex rebuildIndex(PageReader& source, const CompactPlan& plan, const TablePlan& table,
                          const CopiedTable& copied, size_t indexNumber, PageAllocator& allocator, PageWriter& writer) {
  const RealIndexDef& ix = table.def.realIndexes[indexNumber];
  const std::string where = "index " + std::to_string(indexNumber) + " of table " + table.name;
  bool overIds = false;
  for (const RealIndexDef::KeyColumn& kc : ix.columns) {
    for (size_t k : table.idColumns) overIds = overIds || table.def.columns[k].number == kc.column;
  }

  std::vector<bool> seen(static_cast<size_t>(copied.rows.size()), false);
  std::vector<IndexEntry> resorted;
  IndexTreeWriter tree(source.format(), table.newPage, allocator, writer);
  IndexWalker walker(source, table.def.page, ix.rootPage);
  IndexWalkEntry e;
  while (walker.next(e)) {
    std::optional<RowPointerMap::Found> to = copied.rows.find(e.row);
    if (!to) {
      if (std::binary_search(copied.dropped.begin(), copied.dropped.end(), e.row.raw())) continue;
      corrupt(where + " points at row " + std::to_string(e.row.row) + " of page " + std::to_string(e.row.page) +
              ", which holds no row of the table");
    }
    if (seen[static_cast<size_t>(to->ordinal)]) {
      corrupt(where + " lists row " + std::to_string(e.row.row) + " of page " + std::to_string(e.row.page) + " twice");
    }
    seen[static_cast<size_t>(to->ordinal)] = true;
    if (overIds) {
      std::vector<uint8_t> key(e.key.begin(), e.key.end());
      if (!remapIdKey(table.def, ix.columns, table.idColumns, plan.ids, key)) {
        corrupt(where + " has a key whose table Id cannot be located");
      }
      resorted.push_back(makeLeafEntry(key, to->to));
    } else {
      tree.add(makeLeafEntry(e.key, to->to));
    }
  }
  if (overIds) {
    std::sort(resorted.begin(), resorted.end(), indexEntryLess);
    for (IndexEntry& entry : resorted) tree.add(std::move(entry));
    resorted.clear();
  }
  IndexTreeWriter::Result r = tree.finish();
  if ((ix.flags & kIgnoreNulls) == 0 && r.entries != copied.rows.size()) {
    corrupt(where + " has " + std::to_string(r.entries) + " entries for " + std::to_string(copied.rows.size()) +
            " rows");
  }
  return {r.rootPage, std::move(r.pages), r.entries, r.distinctKeys};
}

}  // namespace jet
