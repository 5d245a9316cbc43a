// Who owns each page of the file: the registry every part of the check claims pages in, the free-page map of page 1,
// and the closing look at every page (in use yet marked free, neither in use nor free, rows no map lists).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/check/problem_log.h"
#include "jet/format/bytes.h"
#include "jet/format/format.h"
#include "jet/pager/page_reader.h"

namespace jet {

// What a page is used for. Each page in use has exactly one use; map rows of many owners may share a page, and so
// may long values of many columns.
enum class Use : uint8_t { None, Header, FreeMap, Definition, Data, Index, LongValue, MapRows, MapBitmap };

struct Claim {
  Use use = Use::None;
  uint32_t table = 0;   // TDEF page of the owner (0 for shared uses)
  uint32_t detail = 0;  // index number for index pages
};

// The claims on every page of the file, shared by the checks of all tables so that a page two tables use shows up,
// together with what the claims are described by: the names of the tables the catalog lists, and which long-value
// rows some value already uses.
class PageClaims {
 public:
  PageClaims(uint32_t pageCount, ProblemLog& log) : claims_(pageCount), log_(log), longValueRowsAt_(pageCount, kNone) {}

  uint32_t size() const { return static_cast<uint32_t>(claims_.size()); }
  // For a file that grows while it is checked, to about `pageCount` pages: room is taken at once, so that growing
  // does not copy the registry over and over. The system hands out the memory only as the file grows into it.
  void reserve(uint32_t pageCount) {
    claims_.reserve(pageCount);
    longValueRowsAt_.reserve(pageCount);
  }
  // For a file that grows while it is checked.
  void grow(uint32_t pageCount) {
    if (pageCount <= claims_.size()) return;
    // By an eighth at a time, not the double a vector would take: the registry is among the largest things held.
    if (pageCount > claims_.capacity()) {
      claims_.reserve(pageCount + pageCount / 8);
      longValueRowsAt_.reserve(pageCount + pageCount / 8);
    }
    claims_.resize(pageCount);
    longValueRowsAt_.resize(pageCount, kNone);
  }
  const Claim& operator[](uint32_t page) const { return claims_[page]; }

  // Records that `page` is used as `use`; reports a page that something else uses already. Returns false then.
  bool claim(uint32_t page, Use use, uint32_t table, const std::string& tableForProblem, uint32_t detail = 0);
  std::string describe(const Claim& c) const;

  void nameTable(uint32_t tdef, const std::string& name) { tableNames_[tdef] = name; }
  // The name of the table whose definition starts at `tdef`, or null when the catalog lists none there.
  const std::string* tableAt(uint32_t tdef) const;
  // The name, or where the table would be when the catalog lists none there.
  std::string tableName(uint32_t tdef) const;

  // Records that the table's map reaches every page it lists and as many live rows as its definition counts: rows on
  // its data pages the map does not list are then copies the table no longer has, not rows it lost.
  void noteRowsAllReached(uint32_t tdef) { rowsAllReached_.insert(tdef); }
  bool rowsAllReached(uint32_t tdef) const { return rowsAllReached_.count(tdef) != 0; }

  // Marks a long-value row as used by a value. False when a value used it before: the row is shared, or a chain
  // loops. `at.page` must be a page of the file, holding `rowsOnPage` rows (more than at.row).
  bool useLongValueRow(RowPointer at, uint16_t rowsOnPage);
  bool anyLongValueRowUsed(uint32_t page) const { return longValueRowsAt_[page] != kNone; }

 private:
  std::vector<Claim> claims_;
  ProblemLog& log_;
  std::unordered_map<uint32_t, std::string> tableNames_;
  std::unordered_set<uint32_t> rowsAllReached_;
  // The long-value rows in use: for each page with one, a bitmap of its rows (as many 64-bit words as its rows need)
  // in one pool, found through the page's first word. About 12 bytes a long-value page where a map of 256-bit sets
  // took about 70, and the rows of one page stay side by side.
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  std::vector<uint32_t> longValueRowsAt_;
  std::vector<uint64_t> longValueRowWords_;
};

// The free-page map of page 1, as read: which pages it marks free, if it could be read at all.
struct FreeMap {
  bool read = false;
  std::vector<bool> free;
};

// Claims page 1 and the map's bitmap pages, and reads which pages are free.
FreeMap readFreeMap(PageReader& pages, PageClaims& claims, ProblemLog& log);

// After every table: counts the pages in use, and reports those also marked free and those neither in use nor free.
void checkPageUse(PageReader& pages, const Format& f, const PageClaims& claims, const FreeMap& freeMap,
                  ProblemLog& log);

}  // namespace jet
