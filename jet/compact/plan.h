// Planning a compaction: which tables the destination holds, where their definitions go, and how table Ids change.
//
// A local table's Id in the catalog is the page number of its definition. The destination packs definitions densely
// from page 2 in the order of their old pages, so MSysObjects stays at page 2 and the map from old to new Ids keeps
// its order (which keeps index entries on Id columns in order as well). Every column known to hold table Ids is
// rewritten through that map.
//
// The navigation pane's tables are Access's own and name tables by Id as well, but Access leaves those Ids alone when
// it compacts a file and finds its objects by name too: there the pane's list of objects decides (see planCompaction).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/read/catalog.h"
#include "jet/pager/page_reader.h"
#include "jet/format/table_def.h"

namespace jet {

// Old table Id (definition page) -> new one.
class TableIdMap {
 public:
  void add(uint32_t oldPage, uint32_t newPage) { pairs_.emplace_back(oldPage, newPage); }  // in ascending oldPage
  std::optional<uint32_t> find(uint32_t oldPage) const;
  // Ids of table objects are page numbers (the top byte clear); other objects have Ids with high bits set.
  static bool looksLikeTableId(int32_t id) { return idReadsAsPage(id); }

 private:
  std::vector<std::pair<uint32_t, uint32_t>> pairs_;  // ascending in old pages (and in new ones, for `ids`)
};

struct TablePlan {
  std::string name;
  bool system = false;
  uint32_t newPage = 0;
  uint32_t definitionPages = 0;   // pages the definition takes in the destination
  uint32_t definitionLength = 0;  // bytes of the definition, header included
  TableDef def;                   // as read from the source
  // Indexes into def.columns of columns holding table Ids. A row with an Id that names no table is left out: it
  // belongs to a table that is gone, and kept with its old Id it would name whichever table the destination gives that
  // number.
  std::vector<size_t> idColumns;
  bool navigationPane = false;  // its Ids are the navigation pane's (CompactPlan::newId)
};

struct CompactPlan {
  std::vector<TablePlan> tables;  // in order of their old definition pages; tables[0] is MSysObjects
  TableIdMap ids;
  // The table Ids the navigation pane's list of objects holds -> the new Id of the table each row stands for, or 0
  // for a row that is left out.
  TableIdMap navigationIds;
  uint32_t firstDataPage = 0;  // first page after the definitions

  // The new Id for a table Id found in one of `table`'s Id columns; nullopt when it names no table.
  std::optional<uint32_t> newId(const TablePlan& table, uint32_t id) const {
    if (table.navigationPane) {
      if (std::optional<uint32_t> to = navigationIds.find(id)) return *to != 0 ? to : std::nullopt;
    }
    return ids.find(id);
  }
};

// Pages a definition of `length` bytes takes (its first page holds the header, every further page 8 bytes less).
uint32_t definitionPageCount(const Format& format, uint32_t length);

// Reads every table definition the catalog names, and the navigation pane's list of objects (MSysNavPaneObjectIDs):
// a row of it stands for the table its name names, or failing that the table its Id names, and each table is stood
// for by one row (preferably the one with its own Id); the Ids of the rows and of the pane's entries and groups that
// name them follow that. Throws Corrupt (3049) when the catalog names the same definition twice, a definition cannot
// be read, a definition claims more bytes than its pages hold, or that list cannot be read.
CompactPlan planCompaction(PageReader& pages, const Catalog& catalog);

}  // namespace jet
