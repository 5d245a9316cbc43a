// The indexes of one table: each tree walked from its root, its page map, its key counts, and whether every live row
// is in it exactly once.
#include "jet/check/table_checker.h"

#include <algorithm>

#include "jet/format/index_keys.h"
#include "jet/read/catalog.h"
#include "jet/read/index_walk.h"

namespace jet {

namespace {

// Sorts raw row pointers by their bytes, the highest first, in place (American flag sort): an index's entries point
// all over the table, a comparison sort of a large table's pointers took a tenth of the read-back, and a sort through
// a second buffer as large doubled the memory the check holds for it.
void sortPointers(uint32_t* first, uint32_t* last, int shift) {
  const size_t n = static_cast<size_t>(last - first);
  if (n < 64 || shift < 0) {
    std::sort(first, last);
    return;
  }
  size_t counts[256] = {};
  for (uint32_t* p = first; p != last; ++p) ++counts[(*p >> shift) & 0xFF];
  size_t start[256];
  size_t end[256];
  size_t at = 0;
  for (size_t b = 0; b < 256; ++b) {
    start[b] = at;
    at += counts[b];
    end[b] = at;
  }
  size_t next[256];
  std::copy(start, start + 256, next);
  for (size_t b = 0; b < 256; ++b) {
    while (next[b] < end[b]) {
      uint32_t v = first[next[b]];
      size_t to = (v >> shift) & 0xFF;
      while (to != b) {
        std::swap(v, first[next[to]++]);
        to = (v >> shift) & 0xFF;
      }
      first[next[b]++] = v;
    }
  }
  for (size_t b = 0; b < 256; ++b) {
    if (counts[b] > 1) sortPointers(first + start[b], first + end[b], shift - 8);
  }
}

void sortPointers(std::vector<uint32_t>& values) { sortPointers(values.data(), values.data() + values.size(), 24); }

std::string rowName(uint32_t raw) {
  RowPointer p = RowPointer::fromRaw(raw);
  return "page " + std::to_string(p.page) + " row " + std::to_string(p.row);
}

}  // namespace

std::string indexName(const TableDef& def, uint32_t k) {
  std::string names;
  for (const LogicalIndexDef& li : def.logicalIndexes) {
    if (li.realIndex == k) names += (names.empty() ? "" : "/") + li.name;
  }
  if (names.empty()) names.append("#").append(std::to_string(k));
  return "index " + names;
}

void TableChecker::checkIndex(uint32_t k, const LiveRows& rows, bool rowsComplete) {
  const RealIndexDef& ix = def_.realIndexes[k];
  const std::string label = indexName(def_, k);
  ++log_.report().indexes;
  std::vector<uint32_t> mapPages;
  bool mapRead = maps_.read(ix.usageMap, name_, def_.page, "page map of " + label, mapPages);
  WalkedIndex walked;
  Pointed pointed;
  if (!walkIndex(k, rows, walked, pointed)) return;
  finishIndex(k, walked, mapRead ? &mapPages : nullptr);
  if (rowsComplete) compareMembership(label, (ix.flags & kIndexIgnoreNulls) != 0, rows, rows.keys[k], pointed);
}

bool TableChecker::walkIndex(uint32_t k, const LiveRows& rows, WalkedIndex& walked, Pointed& pointed) {
  const TableDef& def = def_;
  const RealIndexDef& ix = def.realIndexes[k];
  const std::string label = indexName(def, k);
  walked.root = ix.rootPage;
  if (ix.rootPage < claims_.size() && claims_[ix.rootPage].use != Use::None) {
    add(Severity::Error, ix.rootPage, -1,
        label + " starts on a page already used for " + claims_.describe(claims_[ix.rootPage]) + "; not walked");
    return false;
  }
  std::vector<uint32_t>& treePages = walked.treePages;
  pointed.seen.assign(rows.home.size(), false);
  pointed.again.clear();
  pointed.strays.clear();
  const bool unique = (ix.flags & kIndexUnique) != 0;
  // Compaction renumbers the table Ids in the keys of the system tables' indexes over them, finding each by the
  // types of the segments before it: a key that does not fit its columns so could not be copied.
  const std::vector<size_t> idColumns = tableIdColumns(name_, def);
  bool overIds = false;
  for (const RealIndexDef::KeyColumn& kc : ix.columns) {
    for (size_t c : idColumns) overIds = overIds || def.columns[c].number == kc.column;
  }
  bool misfitReported = false;
  uint32_t previousRow = 0;
  IndexWalker walker(
      pages_, def.page, ix.rootPage,
      [&](const IndexWalkIssue& issue) {
        add(issue.warning ? Severity::Warning : Severity::Error, issue.page, -1, label + ": " + issue.message);
      },
      [&](uint32_t page, bool) {
        treePages.push_back(page);
        claim(page, Use::Index, def.page, k);
      });
  try {
    IndexWalkEntry e;
    while (walker.next(e)) {
      if (options_.observer != nullptr) options_.observer->indexEntry(k, e.entry);
      if (const std::optional<size_t> at = rows.home.find(e.row.raw())) {
        if (pointed.seen[*at]) {
          pointed.again.push_back(*at);
        } else {
          pointed.seen[*at] = true;
        }
      } else {
        pointed.strays.push_back(e.row.raw());
      }
      if (overIds && !misfitReported && !forEachIdInKey(def, ix.columns, idColumns, e.key, [](size_t, bool) {})) {
        add(Severity::Error, e.row.page, e.row.row,
            label + ": the key does not fit the index's columns, so the table Ids in it cannot be located");
        misfitReported = true;
      }
      if (unique && e.sameKey) {
        // Rows whose key has a null may repeat in a unique index; rows without one may not.
        if (!keyHasNull(rows, k, e.row.raw()) && !keyHasNull(rows, k, previousRow)) {
          add(Severity::Error, e.row.page, e.row.row,
              label + " is unique but the row has the same key as " + rowName(previousRow));
        }
      }
      previousRow = e.row.raw();
    }
  } catch (const Error& e) {
    onlyCorruption(e);
    add(Severity::Error, ix.rootPage, -1, label + " cannot be walked: " + e.what());
    return false;
  }
  log_.report().indexEntries += walker.entries();
  if (options_.observer != nullptr) options_.observer->endIndex(k, walker.distinctKeys());
  walked.walked = true;
  walked.distinctKeys = walker.distinctKeys();
  std::sort(treePages.begin(), treePages.end());
  return true;
}

void TableChecker::finishIndex(uint32_t k, const WalkedIndex& walked, const std::vector<uint32_t>* mapPages) {
  const RealIndexDef& ix = def_.realIndexes[k];
  const std::string label = indexName(def_, k);
  if (walked.distinctKeys != ix.keyCount) {
    add(Severity::Warning, def_.page, -1,
        label + ": stored key count " + std::to_string(ix.keyCount) + ", found " + std::to_string(walked.distinctKeys));
  }
  const std::vector<uint32_t>& treePages = walked.treePages;
  if (mapPages != nullptr) {
    for (uint32_t p : *mapPages) {
      if (!std::binary_search(treePages.begin(), treePages.end(), p)) {
        // Space the index holds on to without using it: nothing is lost, so a warning.
        add(Severity::Warning, p, -1, label + ": the index's page map lists a page the tree does not reach");
      }
    }
    for (uint32_t p : treePages) {
      if (!std::binary_search(mapPages->begin(), mapPages->end(), p)) {
        add(Severity::Error, p, -1, label + ": the page is in the tree but not in the index's page map");
      }
    }
  }
}

bool TableChecker::keyHasNull(const LiveRows& rows, uint32_t k, uint32_t raw) {
  const std::optional<size_t> at = rows.home.find(raw);
  if (!at) return false;
  return (rows.keys[k][*at] & kKeyAnyNull) != 0 || rows.isUnreadable(*at);
}

void TableChecker::compareMembership(const std::string& label, bool ignoresNulls, const LiveRows& rows,
                                     const TwoBitsPerRow& keyBits, Pointed& pointed) {
  // Reported in the order of the pointers, the entries that lead nowhere among the rows, each pointer once.
  std::vector<uint32_t>& strays = pointed.strays;
  sortPointers(strays);
  strays.erase(std::unique(strays.begin(), strays.end()), strays.end());
  std::sort(pointed.again.begin(), pointed.again.end());
  size_t nextUnreadable = 0;
  size_t j = 0;
  auto rowAt = [](uint32_t raw) { return RowPointer::fromRaw(raw); };
  auto reportStray = [&](uint32_t raw) {
    add(Severity::Error, rowAt(raw).page, rowAt(raw).row,
        label + " has an entry for a row that is deleted or does not exist");
  };
  rows.home.forEach([&](size_t i, uint32_t home) {
    for (; j < strays.size() && strays[j] < home; ++j) reportStray(strays[j]);
    size_t n = pointed.seen[i] ? 1 : 0;
    if (n == 1 && !pointed.again.empty()) {
      const auto more = std::equal_range(pointed.again.begin(), pointed.again.end(), i);
      n += static_cast<size_t>(more.second - more.first);
    }
    const uint8_t bits = keyBits[i];
    if (nextUnreadable < rows.unreadable.size() && rows.unreadable[nextUnreadable] == i) {
      ++nextUnreadable;
      return;
    }
    const bool belongs = !(ignoresNulls && (bits & kKeyAllNull));
    if (belongs && n == 0) {
      add(Severity::Error, rowAt(home).page, rowAt(home).row, "the row is missing from " + label);
    } else if (n > 1) {
      add(Severity::Error, rowAt(home).page, rowAt(home).row, label + " lists the row " + std::to_string(n) + " times");
    } else if (!belongs && n == 1) {
      add(Severity::Error, rowAt(home).page, rowAt(home).row,
          label + " ignores nulls but lists the row, whose key columns are all null");
    }
  });
  for (; j < strays.size(); ++j) reportStray(strays[j]);
}

}  // namespace jet
