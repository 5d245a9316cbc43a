#include "jet/compact/indexes.h"

#include <algorithm>

#include "jet/read/read_ahead.h"
#include "jet/compact/verify.h"
#include "jet/compact/digest.h"
#include "jet/errors.h"
#include "jet/format/index_keys.h"
#include "jet/format/row_layout.h"
#include "jet/read/index_walk.h"

namespace jet {

bool remapIdKey(const CompactPlan& plan, const TablePlan& table, const std::vector<RealIndexDef::KeyColumn>& columns,
                std::vector<uint8_t>& key) {
  return forEachIdInKey(table.def, columns, table.idColumns, key, [&](size_t at, bool descending) {
    uint8_t* p = key.data() + at;
    const int32_t id = decodeLongKey(p, descending);
    if (!TableIdMap::looksLikeTableId(id)) return;
    if (std::optional<uint32_t> to = plan.newId(table, static_cast<uint32_t>(id))) {
      encodeLongKey(static_cast<int32_t>(*to), descending, p);
    }
  });
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
  IndexTreeWriter tree(source.format(), table.newPage, indexPageOutput(allocator, writer));
  // The source's tree is walked on the reader's thread, which also looks up each entry's row in the row map (the
  // lookups wait for memory, and this thread has the tree to build), while the entries read before are placed here,
  // a batch of entries (new row pointers and keys side by side) at a time.
  struct Batch {
    struct Entry {
      RowPointer row;  // in the source, until looked up; then in the destination
      size_t at = 0;
      size_t length = 0;
    };
    std::vector<Entry> entries;
    std::vector<uint8_t> keys;
  };
  IndexWalker walker(source, table.def.page, ix.rootPage);
  IndexWalkEntry walked;
  // How many entries ahead the row map is asked for its memory (see RowPointerMap::prefetchPage).
  constexpr size_t kPageAhead = 16;
  constexpr size_t kSlotsAhead = 8;
  // Replaces the source pointers of the batch by the destination's; entries of dropped rows leave the batch. On a
  // failure the batch keeps the entries before the one that failed, as if they had been read one at a time.
  auto lookUp = [&](Batch& batch) {
    std::vector<Batch::Entry>& list = batch.entries;
    size_t kept = 0;
    for (size_t i = 0; i < list.size(); ++i) {
      if (i + kPageAhead < list.size()) copied.rows.prefetchPage(list[i + kPageAhead].row);
      if (i + kSlotsAhead < list.size()) copied.rows.prefetchSlots(list[i + kSlotsAhead].row);
      const RowPointer row = list[i].row;
      std::optional<RowPointerMap::Found> to = copied.rows.find(row);
      if (!to) {
        if (std::binary_search(copied.dropped.begin(), copied.dropped.end(), row.raw())) continue;
        list.resize(kept);
        corrupt(where + " points at row " + std::to_string(row.row) + " of page " + std::to_string(row.page) +
                ", which holds no row of the table");
      }
      if (seen[static_cast<size_t>(to->ordinal)]) {
        list.resize(kept);
        corrupt(where + " lists row " + std::to_string(row.row) + " of page " + std::to_string(row.page) + " twice");
      }
      seen[static_cast<size_t>(to->ordinal)] = true;
      list[kept] = list[i];
      list[kept++].row = to->to;
    }
    list.resize(kept);
  };
  auto read = [&](Batch& batch) {
    constexpr size_t kBytes = size_t{256} << 10;
    if (batch.keys.capacity() == 0) batch.keys.reserve(kBytes + 4096);  // keys are far shorter than a page
    batch.entries.clear();
    batch.keys.clear();
    bool more = true;
    try {
      while (batch.entries.size() < 8192 && batch.keys.size() < kBytes) {
        if (!walker.next(walked)) {
          more = false;
          break;
        }
        batch.entries.push_back({walked.row, batch.keys.size(), walked.key.size()});
        batch.keys.insert(batch.keys.end(), walked.key.begin(), walked.key.end());
      }
    } catch (...) {
      lookUp(batch);  // a failure among the entries read first comes first
      throw;
    }
    lookUp(batch);
    return more;
  };
  ReadAhead<Batch> reader(read);
  Digest entries;
  auto add = [&](IndexEntry entry) {
    addIndexEntryDigest(entries, entry);
    tree.add(std::move(entry));
  };
  while (Batch* batch = reader.next()) {
    for (const Batch::Entry& e : batch->entries) {
      const Bytes key(batch->keys.data() + e.at, e.length);
      if (overIds) {
        std::vector<uint8_t> remapped(key.begin(), key.end());
        if (!remapIdKey(plan, table, ix.columns, remapped)) {
          corrupt(where + " has a key whose table Id cannot be located");
        }
        resorted.push_back(makeLeafEntry(remapped, e.row));
      } else {
        IndexEntry entry = tree.entryBuffer();
        makeLeafEntry(key, e.row, entry);
        add(std::move(entry));
      }
    }
  }
  if (overIds) {
    std::sort(resorted.begin(), resorted.end(), indexEntryLess);
    for (IndexEntry& entry : resorted) add(std::move(entry));
    resorted.clear();
  }
  RebuiltIndex r;
  static_cast<WrittenIndexTree&>(r) = tree.finish();
  r.entryDigest = entries.value();
  if ((ix.flags & kIndexIgnoreNulls) == 0 && r.entries != copied.rows.size()) {
    corrupt(where + " has " + std::to_string(r.entries) + " entries for " + std::to_string(copied.rows.size()) +
            " rows");
  }
  return r;
}

}  // namespace jet
