#include "jet/check/integrity_check.h"

#include <algorithm>
#include <bitset>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "jet/format/data_page.h"
#include "jet/read/index_walk.h"
#include "jet/format/long_value.h"
#include "jet/format/row_layout.h"
#include "jet/format/usage_map.h"

namespace jet {

size_t CheckReport::errors() const {
  return static_cast<size_t>(
      std::count_if(problems.begin(), problems.end(), [](const Problem& p) { return p.severity == Severity::Error; }));
}

size_t CheckReport::warnings() const { return problems.size() - errors(); }

bool CheckReport::clean(bool strict) const { return strict ? problems.empty() : errors() == 0; }

std::string describeProblem(const Problem& p) {
  std::string s = p.severity == Severity::Error ? "error: " : "warning: ";
  std::string where;
  if (!p.table.empty()) where = "table " + p.table;
  if (p.page != 0) where += (where.empty() ? "" : ", ") + std::string("page ") + std::to_string(p.page);
  if (p.row >= 0) where += ", row " + std::to_string(p.row);
  if (!where.empty()) s += where + ": ";
  return s + p.message;
}

namespace {

// What a page is used for. Each page in use has exactly one use; map rows of many owners may share a page, and so
// may long values of many columns.
enum class Use : uint8_t { None, Header, FreeMap, Definition, Data, Index, LongValue, MapRows, MapBitmap };

const char* useName(Use u) {
  switch (u) {
    case Use::None: return "nothing";
    case Use::Header: return "the header";
    case Use::FreeMap: return "the free-page map";
    case Use::Definition: return "a table definition";
    case Use::Data: return "rows";
    case Use::Index: return "an index";
    case Use::LongValue: return "long values";
    case Use::MapRows: return "usage maps";
    case Use::MapBitmap: return "a usage-map bitmap";
  }
  return "?";
}

struct Claim {
  Use use = Use::None;
  uint32_t table = 0;  // TDEF page of the owner (0 for shared uses)
  uint32_t detail = 0; // index number for index pages
};

// Per live row and per index: how many of the index's key columns are null in the row.
constexpr uint8_t kKeyAllNull = 0x01;
constexpr uint8_t kKeyAnyNull = 0x02;
constexpr uint8_t kRowUnreadable = 0x04;  // the row did not decode: its index entries are neither expected nor not

// Twice the limits of Jet itself (255 columns, 32 indexes a table), leaving room for deleted columns.
constexpr size_t kMaxColumns = 512;
constexpr size_t kMaxIndexes = 64;

// Page types by name for messages.
std::string pageTypeName(uint8_t type) {
  switch (type) {
    case 0x00: return "a free or header page";
    case 0x01: return "a data page";
    case 0x02: return "a table-definition page";
    case 0x03: return "an index node page";
    case 0x04: return "an index leaf page";
    case 0x05: return "a usage-map page";
    default: return "a page of unknown type " + std::to_string(type);
  }
}

// Damage is reported and the check goes on; any other failure (a read error, say) ends the check with its own number.
void onlyCorruption(const Error& e) {
  if (e.code() != ErrorCode::Corrupt) throw e;
}

class Checker {
 public:
  Checker(Database& db, const CheckOptions& options)
      : db_(db), pages_(db.pages()), f_(db.format()), options_(options), claims_(pages_.pageCount()) {}

  CheckReport run() {
    claim(0, Use::Header, 0, "");
    readFreeMap();
    std::vector<std::pair<std::string, uint32_t>> tables;
    std::unordered_set<uint32_t> seen;
    bool catalogListed = false;
    for (const CatalogEntry* e : db_.catalog().tables(true)) {
      uint32_t page = e->tablePage();
      if (!seen.insert(page).second) {
        add(Severity::Error, e->name, page, -1, "a second catalog entry names the same table definition");
        continue;
      }
      catalogListed = catalogListed || page == 2;
      tables.emplace_back(e->name, page);
      tableNames_[page] = e->name;
    }
    if (!catalogListed) {
      tables.insert(tables.begin(), {"MSysObjects", 2});
      tableNames_[2] = "MSysObjects";
    }
    checkCatalogIds();
    for (const auto& [name, page] : tables) {
      try {
        checkTable(name, page);
      } catch (const Error& e) {
        onlyCorruption(e);
        // Anything a table's own checks did not catch (a read error, say) still belongs to that table.
        add(Severity::Error, name, page, -1, e.what());
      }
      ++report_.tables;
    }
    checkPageUse();
    closeProblemCounts();
    return std::move(report_);
  }

 private:
  // A table's Id is the page of its definition; other objects have Ids with high bits set. An Id that reads as a
  // page number but names no table would make the object look like a table's to whatever renumbers tables.
  void checkCatalogIds() {
    for (const CatalogEntry& e : db_.catalog().entries) {
      const bool pageNumber = e.id >= 2 && e.id < 0x01000000;
      if (e.isTable() && !pageNumber) {
        add(Severity::Error, e.name, 0, -1,
            "the catalog lists the table with Id " + std::to_string(e.id) + ", which is no page number");
      } else if (!e.isTable() && pageNumber && tableNames_.count(static_cast<uint32_t>(e.id)) == 0) {
        add(Severity::Error, "MSysObjects", e.location.page, e.location.row,
            "the catalog entry " + e.name + " has Id " + std::to_string(e.id) + ", which names no table");
      }
    }
  }

  // ---- problems -------------------------------------------------------------------------------------------------

  void add(Severity severity, const std::string& table, uint32_t page, int32_t row, const std::string& message) {
    Tally& t = problemsPerTable_[table];
    if (++t.seen > options_.maxProblemsPerTable) {
      if (severity == Severity::Error) t.droppedErrors = true;
      return;
    }
    report_.problems.push_back({severity, table, page, row, message});
  }

  // One closing problem per table that had more than could be listed; an error when any of those left out was one.
  void closeProblemCounts() {
    for (const auto& [table, t] : problemsPerTable_) {
      if (t.seen > options_.maxProblemsPerTable) {
        report_.problems.push_back({t.droppedErrors ? Severity::Error : Severity::Warning, table, 0, -1,
                                    std::to_string(t.seen - options_.maxProblemsPerTable) + " more problems not listed"});
      }
    }
  }

  std::string tableName(uint32_t tdef) const {
    auto it = tableNames_.find(tdef);
    return it != tableNames_.end() ? it->second : "at page " + std::to_string(tdef);
  }

  // ---- page use -------------------------------------------------------------------------------------------------

  std::string describeClaim(const Claim& c) const {
    std::string s = useName(c.use);
    if (c.table != 0) s += " of table " + tableName(c.table);
    if (c.use == Use::Index) s += " (index " + std::to_string(c.detail) + ")";
    if (c.use == Use::MapBitmap) {
      RowPointer map = RowPointer::fromRaw(c.detail);
      s += " (of the map at page " + std::to_string(map.page) + " row " + std::to_string(map.row) + ")";
    }
    return s;
  }

  // Records that `page` is used as `use`; reports a page that something else uses already. Returns false then.
  bool claim(uint32_t page, Use use, uint32_t table, const std::string& tableForProblem, uint32_t detail = 0) {
    if (page >= claims_.size()) return false;
    Claim& c = claims_[page];
    Claim wanted{use, table, detail};
    if (c.use == Use::None) {
      c = wanted;
      return true;
    }
    bool shared = c.use == use && (use == Use::MapRows || use == Use::LongValue);
    if (shared || (c.use == use && c.table == table && c.detail == detail)) return true;
    add(Severity::Error, tableForProblem, page, -1,
        "the page is used for " + describeClaim(wanted) + " and also for " + describeClaim(c));
    return false;
  }

  void readFreeMap() {
    claim(1, Use::FreeMap, 0, "");
    free_.assign(pages_.pageCount(), false);
    try {
      UsageMap map = readUsageMap(pages_, RowPointer{1, 0});
      claimMapBitmaps(map, "");
      // Some versions of Access write bitmap page numbers past the end of the file (even 0xFFFFFF80) into the
      // free-page map. Nothing reads them but the allocator of new pages, and compaction writes a fresh map.
      uint64_t outside = 0;
      std::string examples;
      for (uint32_t page : map.bitmapPages) {
        if (page == 0 || page < pages_.pageCount()) continue;
        if (++outside <= 4) examples += (examples.empty() ? "" : ", ") + std::to_string(page);
      }
      forEachMappedPage(
          pages_, map,
          [&](uint32_t p) {
            free_[p] = true;
            return true;
          },
          [&](size_t, uint32_t page, const std::string& why) {
            if (page < pages_.pageCount()) add(Severity::Error, "", 1, 0, "the free-page map: " + why);
          });
      if (outside > 0) {
        add(Severity::Warning, "", 1, 0,
            "the free-page map lists " + std::to_string(outside) + " bitmap pages past the end of the file (" +
                examples + (outside > 4 ? ", ..." : "") + ")");
      }
      freeMapRead_ = true;
    } catch (const Error& e) {
      onlyCorruption(e);
      add(Severity::Error, "", 1, 0, std::string("the free-page map: ") + e.what());
    }
  }

  // A bitmap page belongs to one map, once: listed twice, it would mark the same pages at two places.
  void claimMapBitmaps(const UsageMap& map, const std::string& table) {
    std::unordered_set<uint32_t> listed;
    const uint32_t per = UsageMap::pagesPerBitmapPage(pages_.pageSize());
    for (size_t k = 0; k < map.bitmapPages.size(); ++k) {
      // Slots that stand only for pages past the end of the file are never read.
      if (uint64_t{k} * per >= claims_.size()) break;
      const uint32_t p = map.bitmapPages[k];
      if (p == 0 || p >= claims_.size()) continue;
      if (!listed.insert(p).second) {
        add(Severity::Error, table, p, -1,
            "the usage map at page " + std::to_string(map.location.page) + " row " +
                std::to_string(map.location.row) + " lists this bitmap page twice");
        continue;
      }
      claim(p, Use::MapBitmap, 0, table, map.location.raw());
    }
  }

  // Reads the map at `at` and returns its pages; reports a map that cannot be read.
  // `complete` (when given) is cleared when the map lists pages the file does not have.
  bool readMap(const MapPointer& at, const std::string& table, uint32_t tdef, const std::string& what,
               std::vector<uint32_t>& out, bool* complete = nullptr) {
    out.clear();
    try {
      UsageMap map = readUsageMap(pages_, at.at);
      claim(at.at.page, Use::MapRows, 0, table);
      claimMapBitmaps(map, table);
      out = mappedPages(pages_, map);
      if (reportPagesPastTheEnd(map, table, tdef, what) && complete != nullptr) *complete = false;
      return true;
    } catch (const Error& e) {
      onlyCorruption(e);
      add(Severity::Error, table, tdef, -1, "the " + what + " cannot be read: " + e.what());
      return false;
    }
  }

  // Readers skip the bits of a map that stand for pages past the end of the file; in a table's maps such bits mean
  // the file lost its end (or the map is damaged), and the rows there would vanish without a word.
  bool reportPagesPastTheEnd(const UsageMap& map, const std::string& table, uint32_t tdef, const std::string& what) {
    PagesPastTheEnd past = mappedPagesPastTheEnd(pages_, map);
    if (past.count > 0) {
      add(Severity::Error, table, tdef, -1,
          "the " + what + " lists " + std::to_string(past.count) + " pages past the end of the file (the first is page " +
              std::to_string(past.first) + "): the file may have been cut short");
    }
    return past.count > 0;
  }

  void checkPageUse() {
    uint64_t unaccounted = 0;
    std::map<std::string, uint64_t> unaccountedKinds;
    std::string examples;
    for (uint32_t p = 0; p < claims_.size(); ++p) {
      const Claim& c = claims_[p];
      if (c.use != Use::None) {
        ++report_.pagesInUse;
        if (freeMapRead_ && free_[p]) {
          add(Severity::Error, c.table != 0 ? tableName(c.table) : "", p, -1,
              "the page holds " + describeClaim(c) + " but the free-page map marks it free");
        }
        continue;
      }
      if (!freeMapRead_ || free_[p]) continue;
      if (reportUnlistedRows(p)) continue;
      if (++unaccounted <= 8) examples += (examples.empty() ? "" : ", ") + std::to_string(p);
      ++unaccountedKinds[leftoverKind(p)];
    }
    if (unaccounted > 0) {
      std::string kinds;
      for (const auto& [kind, n] : unaccountedKinds) kinds += "; " + std::to_string(n) + " " + kind;
      if (!kinds.empty()) kinds = "; by kind" + kinds.substr(1);
      add(Severity::Warning, "", 0, -1,
          std::to_string(unaccounted) + " pages are neither in use nor marked free (" + examples +
              (unaccounted > 8 ? ", ..." : "") + kinds + ")");
    }
  }

  // What a page nothing uses looks like, for the summary of space left behind.
  std::string leftoverKind(uint32_t p) {
    PageHandle h = pages_.page(p);
    Bytes b(*h);
    if (b[0] == static_cast<uint8_t>(PageType::Data)) {
      uint32_t owner = dataPageOwner(f_, b);
      if (owner == kLongValueOwner) return "long-value";
      if (owner == 0) return "usage-map";
      return "data";
    }
    switch (b[0]) {
      case 0x00: return "empty";
      case 0x02: return "table-definition";
      case 0x03:
      case 0x04: return "index";
      case 0x05: return "usage-map bitmap";
      default: return "type-" + std::to_string(b[0]);
    }
  }

  // A data page that names a table as its owner and holds live rows, yet is neither in the table's map nor free:
  // those rows are lost to every reader. Returns true when it reported one.
  bool reportUnlistedRows(uint32_t p) {
    PageHandle h = pages_.page(p);
    Bytes b(*h);
    if (b[0] != static_cast<uint8_t>(PageType::Data)) return false;
    auto owner = tableNames_.find(dataPageOwner(f_, b));
    if (owner == tableNames_.end()) return false;
    size_t live = 0;
    try {
      uint16_t count = dataPageRowCount(f_, b);
      for (uint16_t r = 0; r < count; ++r) {
        if ((le16(b.data() + f_.rowOffsetTable() + 2u * r) & kRowDeletedFlag) == 0) ++live;
      }
    } catch (const Error& e) {
      onlyCorruption(e);
      return false;
    }
    if (live == 0) return false;
    add(Severity::Error, owner->second, p, -1,
        "the page holds " + std::to_string(live) + " rows of the table, but the table's map does not list it");
    return true;
  }

  // ---- tables ---------------------------------------------------------------------------------------------------

  struct LiveRows {
    std::vector<uint32_t> home;               // raw (page << 8 | row) of every live row's home slot, ascending
    std::vector<std::vector<uint8_t>> keys;   // per real index, per live row: kKey* bits
  };

  void checkTable(const std::string& name, uint32_t tdef) {
    TableDef def;
    try {
      def = readTableDef(pages_, tdef);
    } catch (const Error& e) {
      onlyCorruption(e);
      add(Severity::Error, name, tdef, -1, std::string("the table definition cannot be read: ") + e.what());
      return;
    }
    for (uint32_t p : def.pages) claim(p, Use::Definition, tdef, name);
    if (def.claimedLength() > def.raw.size()) {
      add(Severity::Error, name, tdef, -1,
          "the table definition claims " + std::to_string(def.claimedLength()) + " bytes but its pages hold " +
              std::to_string(def.raw.size()));
    }
    // Jet allows 255 columns and 32 indexes a table. A definition claiming far more is damaged, and checking it as
    // it stands would cost time and memory in proportion to rows times columns or indexes.
    if (def.columns.size() > kMaxColumns || def.realIndexes.size() > kMaxIndexes) {
      add(Severity::Error, name, tdef, -1,
          "the table definition claims " + std::to_string(def.columns.size()) + " columns and " +
              std::to_string(def.realIndexes.size()) + " indexes, more than Jet allows; its rows were not checked");
      return;
    }

    CheckObserver* observer = options_.observer;
    if (observer != nullptr) observer->beginTable(name, def);
    std::vector<uint32_t> owned;
    std::vector<uint32_t> withSpace;
    // Rows on pages the file lacks cannot be counted, so index membership is only checked when every page is there.
    bool ownedComplete = true;
    bool ownedRead = readMap(def.ownedPages, name, tdef, "map of the table's pages", owned, &ownedComplete);
    if (readMap(def.freeSpacePages, name, tdef, "map of the table's pages with free space", withSpace) && ownedRead) {
      for (uint32_t p : withSpace) {
        if (!std::binary_search(owned.begin(), owned.end(), p)) {
          add(Severity::Error, name, p, -1, "the map of pages with free space lists a page the table does not own");
        }
      }
    }
    std::map<uint16_t, std::vector<uint32_t>> longValuePages;
    std::vector<std::pair<uint32_t, uint16_t>> listedLongValuePages;  // page, column
    checkLongValueMaps(def, name, longValuePages, listedLongValuePages);

    LiveRows rows;
    scanRows(def, name, owned, longValuePages, rows);
    checkListedLongValuePages(name, listedLongValuePages);
    report_.rows += rows.home.size();
    if (ownedRead && ownedComplete && rows.home.size() != def.rowCount) {
      add(Severity::Warning, name, tdef, -1,
          "stored row count " + std::to_string(def.rowCount) + ", found " + std::to_string(rows.home.size()));
    }
    for (uint32_t k = 0; k < def.realIndexes.size(); ++k) {
      checkIndex(def, name, k, rows, ownedRead && ownedComplete);
    }
    if (observer != nullptr) observer->endTable();
    for (const LogicalIndexDef& li : def.logicalIndexes) {
      if (li.realIndex >= def.realIndexes.size()) {
        add(Severity::Error, name, tdef, -1,
            "index " + li.name + " uses physical index " + std::to_string(li.realIndex) + ", which does not exist");
      }
      // A foreign key names the other table by its definition's page. Any other index whose related-table field
      // holds a page number (rather than 0 or all bits set) names a table too, and a copy would have to renumber it.
      const bool namesTable = li.relatedTablePage >= 2 && li.relatedTablePage < 0x01000000;
      if ((li.type == 2 || namesTable) && tableNames_.count(li.relatedTablePage) == 0) {
        add(Severity::Error, name, tdef, -1,
            (li.type == 2 ? "foreign key " : "index ") + li.name + " refers to the table at page " +
                std::to_string(li.relatedTablePage) + ", which the catalog does not list");
      }
    }
  }

  // The pages are looked at after the table's rows: most of them are read anyway by the values that live there, and a
  // page read twice at these sizes would no longer be in the cache the second time.
  void checkLongValueMaps(const TableDef& def, const std::string& name,
                          std::map<uint16_t, std::vector<uint32_t>>& pagesByColumn,
                          std::vector<std::pair<uint32_t, uint16_t>>& listed) {
    for (const LongValueMaps& m : def.longValueMaps) {
      std::vector<uint32_t> pages;
      if (m.owned.at.isNull()) continue;
      std::string what = "map of the long-value pages of column " + std::to_string(m.column);
      if (!readMap(m.owned, name, def.page, what, pages)) continue;
      for (uint32_t p : pages) listed.emplace_back(p, m.column);
      std::vector<uint32_t> withSpace;
      std::string freeWhat = "map of the long-value pages with free space of column " + std::to_string(m.column);
      if (!m.free.at.isNull() && readMap(m.free, name, def.page, freeWhat, withSpace)) {
        for (uint32_t p : withSpace) {
          if (!std::binary_search(pages.begin(), pages.end(), p)) {
            add(Severity::Error, name, p, -1, "the " + freeWhat + " lists a page the column does not own");
          }
        }
      }
      pagesByColumn[m.column] = std::move(pages);
    }
  }

  // Each page a long-value map lists must be a long-value page. A value read during the scan has already shown that of
  // its page (longValueRow); the others are read now.
  void checkListedLongValuePages(const std::string& name, const std::vector<std::pair<uint32_t, uint16_t>>& listed) {
    for (const auto& [p, column] : listed) {
      if (longValueRowsUsed_.count(p) == 0) {
        PageHandle h = pages_.page(p);
        Bytes b(*h);
        if (b[0] != static_cast<uint8_t>(PageType::Data) || dataPageOwner(f_, b) != kLongValueOwner) {
          add(Severity::Error, name, p, -1,
              "the map of the long-value pages of column " + std::to_string(column) + " lists " +
                  pageTypeName(b[0]) + " that holds no long values");
          continue;
        }
      }
      claim(p, Use::LongValue, 0, name);
    }
  }

  void scanRows(const TableDef& def, const std::string& name, const std::vector<uint32_t>& owned,
                const std::map<uint16_t, std::vector<uint32_t>>& longValuePages, LiveRows& rows) {
    // Column position of each key column of each index, and of each long-value column.
    std::vector<std::vector<int>> keyColumns(def.realIndexes.size());
    for (size_t k = 0; k < def.realIndexes.size(); ++k) {
      for (const RealIndexDef::KeyColumn& kc : def.realIndexes[k].columns) {
        int at = -1;
        for (size_t c = 0; c < def.columns.size(); ++c) {
          if (def.columns[c].number == kc.column) at = static_cast<int>(c);
        }
        if (at < 0) {
          add(Severity::Error, name, def.page, -1,
              "index " + std::to_string(k) + " names column " + std::to_string(kc.column) + ", which does not exist");
        }
        keyColumns[k].push_back(at);
      }
    }
    rows.keys.assign(def.realIndexes.size(), {});
    RowLayout layout;
    for (uint32_t page : owned) {
      PageHandle handle = pages_.page(page);
      Bytes b(*handle);
      if (b[0] != static_cast<uint8_t>(PageType::Data)) {
        add(Severity::Error, name, page, -1, "the table's map lists " + pageTypeName(b[0]) + ", not a data page");
        continue;
      }
      uint32_t owner = dataPageOwner(f_, b);
      if (owner != def.page) {
        add(Severity::Error, name, page, -1,
            "the table's map lists a data page of " +
                (owner == kLongValueOwner ? std::string("long values") : "table " + tableName(owner)));
        continue;
      }
      claim(page, Use::Data, def.page, name);
      uint16_t count = 0;
      try {
        count = dataPageRowCount(f_, b);
      } catch (const Error& e) {
        onlyCorruption(e);
        add(Severity::Error, name, page, -1, e.what());
        continue;
      }
      for (uint16_t r = 0; r < count; ++r) {
        // Liveness comes from the slot's flags alone, so that a live row with damaged bounds still counts as a row
        // (and its index entries are not reported as leading nowhere).
        if (le16(b.data() + f_.rowOffsetTable() + 2u * r) & kRowDeletedFlag) continue;
        uint8_t unreadable = 0;
        std::vector<uint8_t> keyBits(def.realIndexes.size(), 0);
        if (options_.observer != nullptr) options_.observer->beginRow();
        try {
          RowSlot slot = dataPageRow(f_, b, r);
          PageHandle hold;
          Bytes row = slot.overflow() ? followOverflow(b, slot, hold) : dataPageRowBytes(b, slot);
          crackRow(f_, def, row, layout);
          for (size_t c = 0; c < def.columns.size(); ++c) {
            const ColumnDef& col = def.columns[c];
            if (!isLongValueType(col.type) || !layout.fields[c].present) continue;
            auto lv = longValuePages.find(col.number);
            checkLongValue(name, c, col, row.subspan(layout.fields[c].offset, layout.fields[c].length),
                           lv == longValuePages.end() ? nullptr : &lv->second);
          }
          if (options_.observer != nullptr) options_.observer->row({page, static_cast<uint8_t>(r)}, row, layout);
          for (size_t k = 0; k < keyColumns.size(); ++k) {
            size_t nulls = 0;
            for (int c : keyColumns[k]) {
              bool isNull = c < 0 || (def.columns[static_cast<size_t>(c)].type != ColumnType::Boolean &&
                                      !layout.fields[static_cast<size_t>(c)].present);
              if (isNull) ++nulls;
            }
            if (nulls > 0) keyBits[k] |= kKeyAnyNull;
            if (nulls == keyColumns[k].size()) keyBits[k] |= kKeyAllNull;
          }
        } catch (const Error& e) {
          onlyCorruption(e);
          add(Severity::Error, name, page, r, e.what());
          unreadable = kRowUnreadable;
        }
        rows.home.push_back(RowPointer{page, static_cast<uint8_t>(r)}.raw());
        for (size_t k = 0; k < keyBits.size(); ++k) rows.keys[k].push_back(keyBits[k] | unreadable);
      }
    }
  }

  // The bytes of a row moved elsewhere: its home slot holds a (row, page) pointer to them.
  Bytes followOverflow(Bytes home, const RowSlot& slot, PageHandle& hold) {
    Bytes at = dataPageRowBytes(home, slot);
    for (int hop = 0; hop < 8; ++hop) {
      if (at.size() < 4) corrupt("an overflow pointer is too short");
      RowPointer next = RowPointer::fromRaw(le32(at.data()));
      if (next.page == 0 || next.page >= pages_.pageCount()) {
        corrupt("the overflow pointer leads to page " + std::to_string(next.page) + ", outside the file");
      }
      hold = pages_.page(next.page);
      Bytes p(*hold);
      if (p[0] != static_cast<uint8_t>(PageType::Data)) corrupt("the overflow pointer leads to " + pageTypeName(p[0]));
      if (next.row >= dataPageRowCount(f_, p)) corrupt("the overflow pointer names a row its page lacks");
      // The moved row is marked deleted so that scans skip it where it lies; its bounds still have to hold.
      RowSlot moved = dataPageRow(f_, p, next.row);
      uint16_t raw = moved.raw;
      moved.raw = static_cast<uint16_t>(moved.raw & ~kRowDeletedFlag);
      if (moved.start < f_.rowOffsetTable() + 2u * dataPageRowCount(f_, p) || moved.start > moved.end) {
        corrupt("the row the overflow pointer leads to has impossible bounds");
      }
      at = dataPageRowBytes(p, moved);
      if ((raw & kRowOverflowFlag) == 0) return at;
    }
    corrupt("overflow pointers form a loop");
  }

  // ---- long values ----------------------------------------------------------------------------------------------

  // One row of a long value: on an LVAL page, present, and not used by any other value.
  Bytes longValueRow(const std::string& name, RowPointer at, PageHandle& hold,
                     const std::vector<uint32_t>* columnPages) {
    const std::string where = "long-value row " + std::to_string(at.row) + " of page " + std::to_string(at.page);
    if (at.page == 0 || at.page >= pages_.pageCount()) corrupt("the " + where + " lies outside the file");
    hold = pages_.page(at.page);
    Bytes p(*hold);
    if (p[0] != static_cast<uint8_t>(PageType::Data)) corrupt("the " + where + " is on " + pageTypeName(p[0]));
    if (dataPageOwner(f_, p) != kLongValueOwner) corrupt("the " + where + " is on a page that is not a long-value page");
    if (at.row >= dataPageRowCount(f_, p)) corrupt("the " + where + " does not exist");
    RowSlot slot = dataPageRow(f_, p, at.row);
    if (slot.deleted()) corrupt("the " + where + " is deleted");
    std::bitset<256>& used = longValueRowsUsed_[at.page];
    if (used.test(at.row)) corrupt("the " + where + " is used by another value too");
    used.set(at.row);
    if (columnPages != nullptr && !std::binary_search(columnPages->begin(), columnPages->end(), at.page)) {
      corrupt("the " + where + " is on a page the column's long-value map does not list");
    }
    claim(at.page, Use::LongValue, 0, name);
    return dataPageRowBytes(p, slot);
  }

  void checkLongValue(const std::string& name, size_t columnIndex, const ColumnDef& column, Bytes field,
                      const std::vector<uint32_t>* columnPages) {
    CheckObserver* observer = options_.observer;
    LongValueRef ref = parseLongValueRef(field);
    ++report_.longValues;
    switch (ref.kind) {
      case LongValueRef::Kind::Inline:
        if (field.size() - kLongValueDefinitionSize < ref.length) {
          corrupt("the inline value of column " + column.name + " is shorter than its stated length");
        }
        return;
      case LongValueRef::Kind::SingleRow: {
        PageHandle hold;
        Bytes row = longValueRow(name, ref.first, hold, columnPages);
        if (row.size() < ref.length) {
          corrupt("the value of column " + column.name + " holds " + std::to_string(row.size()) + " of its " +
                  std::to_string(ref.length) + " bytes");
        }
        if (observer != nullptr) observer->longValuePart(columnIndex, row.first(ref.length));
        return;
      }
      case LongValueRef::Kind::Chain: {
        uint64_t total = 0;
        RowPointer at = ref.first;
        if (at.isNull()) corrupt("the value of column " + column.name + " starts nowhere");
        // Every row may appear once (a second visit is reported as shared), so the chain cannot loop for long.
        while (!at.isNull()) {
          PageHandle hold;
          Bytes row = longValueRow(name, at, hold, columnPages);
          if (row.size() < 4) corrupt("a row of the value of column " + column.name + " is too short for its link");
          if (observer != nullptr) {
            const uint64_t part = std::min<uint64_t>(row.size() - 4, ref.length - std::min<uint64_t>(total, ref.length));
            observer->longValuePart(columnIndex, row.subspan(4, static_cast<size_t>(part)));
          }
          total += row.size() - 4;
          at = RowPointer::fromRaw(le32(row.data()));
        }
        if (total < ref.length) {
          corrupt("the value of column " + column.name + " ends after " + std::to_string(total) + " of its " +
                  std::to_string(ref.length) + " bytes");
        }
        return;
      }
    }
  }

  // ---- indexes --------------------------------------------------------------------------------------------------

  static std::string indexName(const TableDef& def, uint32_t k) {
    std::string names;
    for (const LogicalIndexDef& li : def.logicalIndexes) {
      if (li.realIndex == k) names += (names.empty() ? "" : "/") + li.name;
    }
    return "index " + (names.empty() ? "#" + std::to_string(k) : names);
  }

  static std::string rowName(uint32_t raw) {
    RowPointer p = RowPointer::fromRaw(raw);
    return "page " + std::to_string(p.page) + " row " + std::to_string(p.row);
  }

  void checkIndex(const TableDef& def, const std::string& name, uint32_t k, const LiveRows& rows, bool rowsComplete) {
    const RealIndexDef& ix = def.realIndexes[k];
    const std::string label = indexName(def, k);
    ++report_.indexes;
    std::vector<uint32_t> mapPages;
    bool mapRead = readMap(ix.usageMap, name, def.page, "page map of " + label, mapPages);

    if (ix.rootPage < claims_.size() && claims_[ix.rootPage].use != Use::None) {
      add(Severity::Error, name, ix.rootPage, -1,
          label + " starts on a page already used for " + describeClaim(claims_[ix.rootPage]) + "; not walked");
      return;
    }
    std::vector<uint32_t> treePages;
    std::vector<uint32_t> pointed;
    pointed.reserve(rows.home.size());
    const bool unique = (ix.flags & 0x01) != 0;
    std::vector<uint8_t> previousKey;
    uint32_t previousRow = 0;
    IndexWalker walker(
        pages_, def.page, ix.rootPage,
        [&](const IndexWalkIssue& issue) {
          add(issue.warning ? Severity::Warning : Severity::Error, name, issue.page, -1, label + ": " + issue.message);
        },
        [&](uint32_t page, bool) {
          treePages.push_back(page);
          claim(page, Use::Index, def.page, name, k);
        });
    try {
      IndexWalkEntry e;
      while (walker.next(e)) {
        if (options_.observer != nullptr) options_.observer->indexEntry(k, e.entry);
        pointed.push_back(e.row.raw());
        if (unique && !previousKey.empty() && std::equal(e.key.begin(), e.key.end(), previousKey.begin(),
                                                         previousKey.end())) {
          // Rows whose key has a null may repeat in a unique index; rows without one may not.
          if (!keyHasNull(rows, k, e.row.raw()) && !keyHasNull(rows, k, previousRow)) {
            add(Severity::Error, name, e.row.page, e.row.row,
                label + " is unique but the row has the same key as " + rowName(previousRow));
          }
        }
        previousKey.assign(e.key.begin(), e.key.end());
        previousRow = e.row.raw();
      }
    } catch (const Error& e) {
      onlyCorruption(e);
      add(Severity::Error, name, ix.rootPage, -1, label + " cannot be walked: " + e.what());
      return;
    }
    report_.indexEntries += walker.entries();
    if (options_.observer != nullptr) options_.observer->endIndex(k, walker.distinctKeys());
    if (walker.distinctKeys() != ix.keyCount) {
      add(Severity::Warning, name, def.page, -1,
          label + ": stored key count " + std::to_string(ix.keyCount) + ", found " +
              std::to_string(walker.distinctKeys()));
    }
    if (mapRead) {
      std::sort(treePages.begin(), treePages.end());
      for (uint32_t p : mapPages) {
        if (!std::binary_search(treePages.begin(), treePages.end(), p)) {
          // Space the index holds on to without using it: nothing is lost, so a warning.
          add(Severity::Warning, name, p, -1, label + ": the index's page map lists a page the tree does not reach");
        }
      }
      for (uint32_t p : treePages) {
        if (!std::binary_search(mapPages.begin(), mapPages.end(), p)) {
          add(Severity::Error, name, p, -1, label + ": the page is in the tree but not in the index's page map");
        }
      }
    }
    if (rowsComplete) compareMembership(name, label, (ix.flags & 0x02) != 0, rows, rows.keys[k], pointed);
  }

  static bool keyHasNull(const LiveRows& rows, uint32_t k, uint32_t raw) {
    auto it = std::lower_bound(rows.home.begin(), rows.home.end(), raw);
    if (it == rows.home.end() || *it != raw) return false;
    uint8_t bits = rows.keys[k][static_cast<size_t>(it - rows.home.begin())];
    return (bits & (kKeyAnyNull | kRowUnreadable)) != 0;
  }

  void compareMembership(const std::string& name, const std::string& label, bool ignoresNulls, const LiveRows& rows,
                         const std::vector<uint8_t>& keyBits, std::vector<uint32_t>& pointed) {
    std::sort(pointed.begin(), pointed.end());
    size_t j = 0;
    auto rowAt = [](uint32_t raw) { return RowPointer::fromRaw(raw); };
    for (size_t i = 0; i < rows.home.size(); ++i) {
      const uint32_t home = rows.home[i];
      for (; j < pointed.size() && pointed[j] < home; ++j) {
        if (j > 0 && pointed[j - 1] == pointed[j]) continue;
        add(Severity::Error, name, rowAt(pointed[j]).page, rowAt(pointed[j]).row,
            label + " has an entry for a row that is deleted or does not exist");
      }
      size_t n = 0;
      for (; j < pointed.size() && pointed[j] == home; ++j) ++n;
      const uint8_t bits = keyBits[i];
      if (bits & kRowUnreadable) continue;
      const bool belongs = !(ignoresNulls && (bits & kKeyAllNull));
      if (belongs && n == 0) {
        add(Severity::Error, name, rowAt(home).page, rowAt(home).row, "the row is missing from " + label);
      } else if (n > 1) {
        add(Severity::Error, name, rowAt(home).page, rowAt(home).row,
            label + " lists the row " + std::to_string(n) + " times");
      } else if (!belongs && n == 1) {
        add(Severity::Error, name, rowAt(home).page, rowAt(home).row,
            label + " ignores nulls but lists the row, whose key columns are all null");
      }
    }
    for (; j < pointed.size(); ++j) {
      if (j > 0 && pointed[j - 1] == pointed[j]) continue;
      add(Severity::Error, name, rowAt(pointed[j]).page, rowAt(pointed[j]).row,
          label + " has an entry for a row that is deleted or does not exist");
    }
  }

  Database& db_;
  PageReader& pages_;
  const Format& f_;
  CheckOptions options_;
  CheckReport report_;
  std::vector<Claim> claims_;
  std::vector<bool> free_;
  bool freeMapRead_ = false;
  std::unordered_map<uint32_t, std::string> tableNames_;
  struct Tally {
    size_t seen = 0;
    bool droppedErrors = false;
  };
  std::map<std::string, Tally> problemsPerTable_;
  std::unordered_map<uint32_t, std::bitset<256>> longValueRowsUsed_;
};

}  // namespace

CheckReport checkDatabase(Database& db, const CheckOptions& options) {
  Checker checker(db, options);
  return checker.run();
}

}  // namespace jet
