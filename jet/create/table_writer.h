// Writes one table of a new database: its rows onto data pages, its Memo and OLE values onto long-value pages, and
// its indexes from sorted entries, writing pages as they fill. Rows can be deleted the way Jet deletes them: the row
// stays where it is and its slot is flagged, and the long-value rows of its Memo and OLE values are flagged with it.
// The flag is 0xC000, as the deleted rows of the sample files carry it: 0x8000 is the bit Jet and Jackcess read as
// "deleted", but mdbtools and mdb-reader read 0x4000 as "deleted" and 0x8000 as "follow this pointer", so a slot
// with only 0x8000 would send them after a pointer that is not there. Index entries of deleted rows are left out by
// the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/create/page_file.h"
#include "jet/create/row_encoder.h"
#include "jet/create/table_def_writer.h"
#include "jet/create/table_schema.h"
#include "jet/format/data_page_builder.h"
#include "jet/format/index_tree_writer.h"
#include "jet/format/long_value_builder.h"

namespace jet::create {

class TableWriter {
 public:
  TableWriter(PageFile& file, TableSchema schema, uint32_t tdefPage);

  const TableSchema& schema() const { return schema_; }
  const TableLayout& layout() const { return layout_; }
  uint32_t tdefPage() const { return tdefPage_; }

  // Writes a row (one field per column; Memo/OLE fields hold the value itself) and returns where it went. A deleted
  // row is written and then deleted; it does not count as a row of the table.
  RowPointer addRow(std::vector<FieldValue> fields, bool deleted = false);
  // The number given to the next row of an autonumber column (numbers start at 1 and are never reused).
  int32_t nextAutoNumber() { return ++autoNumber_; }
  uint32_t liveRows() const { return liveRows_; }

  // Writes every data and long-value page still held. Call once, after the last row and before the indexes.
  void finishRows();
  // Writes index `k` of the schema from its leaf entries, which `produce` passes to the writer in sorted order.
  void writeIndex(size_t k, const std::function<void(IndexTreeWriter&)>& produce);
  // Sorts the entries and writes the index (for small tables).
  void writeIndex(size_t k, std::vector<IndexEntry> entries);

  // The page sets of the table's usage maps, in the order the definition refers to them: owned pages, pages with
  // free space, one per index, then owned and free pages of each Memo/OLE column.
  std::vector<std::vector<uint32_t>> usageMapPageSets() const;
  // Every page the table uses apart from usage-map pages (for dropping it).
  std::vector<uint32_t> allPages() const;
  // The definition, given the places of its usage maps (in the order of usageMapPageSets) and the definition pages of
  // the tables its foreign keys relate to.
  std::vector<uint8_t> encodeDefinition(const std::vector<RowPointer>& mapRows,
                                        const std::vector<uint32_t>& foreignKeyTables = {}) const;

 private:
  struct LongValueColumn {
    uint16_t column = 0;
    std::unique_ptr<LongValueWriter> writer;
  };
  void writeDataPages(std::vector<std::vector<uint8_t>> pages);
  void writeLongValuePages(std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages);
  void applyDeletions(uint32_t pageNumber, std::vector<uint8_t>& page, bool longValuePage);

  PageFile& file_;
  TableSchema schema_;
  TableLayout layout_;
  uint32_t tdefPage_;
  DataPageBuilder data_;
  std::vector<uint32_t> dataPages_;  // page number of each page the builder made
  uint32_t dataPagesWritten_ = 0;
  std::vector<LongValueColumn> longValues_;
  std::unordered_set<uint32_t> deletedRows_;    // raw (row, page) pointers waiting for their page to be written
  std::unordered_set<uint32_t> deletedChains_;  // long-value rows whose first 4 bytes point at the next piece
  std::vector<WrittenIndexTree> indexes_;
  int32_t autoNumber_ = 0;
  uint32_t liveRows_ = 0;
  bool rowsFinished_ = false;
};

}  // namespace jet::create
