// Writing a table definition into the destination: the source's bytes with every page number, count and Id the
// compaction changed patched at its known offset. Bytes whose meaning is unknown are carried over unchanged.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/pager/page_writer.h"
#include "jet/compact/plan.h"

namespace jet {

struct DefinitionPatch {
  uint32_t rowCount = 0;
  RowPointer ownedMap;  // null: keep the source's null pointer
  RowPointer freeMap;
  struct Index {
    RowPointer map;
    uint32_t rootPage = 0;
    uint32_t keyCount = 0;
  };
  std::vector<Index> indexes;  // per real index
  struct LongValue {
    RowPointer owned;
    RowPointer free;
  };
  std::vector<LongValue> longValues;  // per entry of TableDef::longValueMaps
};

// The definition's bytes (header included, as one string) with the patch applied. Throws Corrupt when a foreign key
// names a table that does not exist.
std::vector<uint8_t> patchDefinition(const Format& format, const CompactPlan& plan, const TablePlan& table,
                                     const DefinitionPatch& patch);

// Splits a definition over table.definitionPages consecutive pages from table.newPage and writes them.
void writeDefinition(const Format& format, const TablePlan& table, const std::vector<uint8_t>& definition,
                     PageWriter& writer);

}  // namespace jet
