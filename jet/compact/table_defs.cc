#include "jet/compact/table_defs.h"

#include <algorithm>

#include "jet/errors.h"
#include "jet/format/put_bytes.h"

namespace jet {
namespace {

void putMap(std::vector<uint8_t>& d, uint32_t offset, RowPointer source, RowPointer to) {
  // A map the source did not have (a null pointer) stays absent.
  if (source.isNull()) return;
  putLe32(d.data() + offset, to.raw());
}

}  // namespace

std::vector<uint8_t> patchDefinition(const Format& f, const CompactPlan& plan, const TablePlan& table,
                                     const DefinitionPatch& patch) {
  const TableDef& def = table.def;
  std::vector<uint8_t> d(def.raw.begin(), def.raw.begin() + static_cast<std::ptrdiff_t>(table.definitionLength));
  putLe32(d.data() + f.tdefRowCount, patch.rowCount);
  putMap(d, def.ownedPages.offset, def.ownedPages.at, patch.ownedMap);
  putMap(d, def.freeSpacePages.offset, def.freeSpacePages.at, patch.freeMap);
  for (size_t i = 0; i < def.realIndexes.size(); ++i) {
    const RealIndexDef& ix = def.realIndexes[i];
    putLe32(d.data() + ix.countOffset + 4, patch.indexes[i].keyCount);
    putMap(d, ix.usageMap.offset, ix.usageMap.at, patch.indexes[i].map);
    putLe32(d.data() + ix.usageMap.offset + 4, patch.indexes[i].rootPage);
  }
  const uint32_t logicalStart = f.version == Version::Jet4 ? 4 : 0;
  for (const LogicalIndexDef& li : def.logicalIndexes) {
    // Only a page number can name a related table; other values (0, all bits set) mean there is none.
    if (!TableIdMap::looksLikeTableId(static_cast<int32_t>(li.relatedTablePage))) continue;
    std::optional<uint32_t> to = plan.ids.find(li.relatedTablePage);
    if (!to) {
      corrupt("index " + li.name + " of table " + table.name + " relates to the table at page " +
              std::to_string(li.relatedTablePage) + ", which does not exist");
    }
    putLe32(d.data() + li.defOffset + logicalStart + 13, *to);
  }
  for (size_t i = 0; i < def.longValueMaps.size(); ++i) {
    const LongValueMaps& m = def.longValueMaps[i];
    putMap(d, m.offset + 2, m.owned.at, patch.longValues[i].owned);
    putMap(d, m.offset + 6, m.free.at, patch.longValues[i].free);
  }
  return d;
}

void writeDefinition(const Format& f, const TablePlan& table, const std::vector<uint8_t>& d, PageWriter& writer) {
  const uint32_t header = f.tdefContinuationHeader;
  size_t at = 0;
  for (uint32_t k = 0; k < table.definitionPages; ++k) {
    std::vector<uint8_t> page(f.pageSize, 0);
    size_t used;
    if (k == 0) {
      used = std::min<size_t>(d.size(), f.pageSize);
      std::copy_n(d.begin(), used, page.begin());
    } else {
      // A continuation page repeats the first page's type bytes and carries the next part after its own header.
      page[0] = d[0];
      page[1] = d[1];
      if (f.version == Version::Jet3) {
        page[2] = d[2];
        page[3] = d[3];
      }
      size_t n = std::min<size_t>(d.size() - at, f.pageSize - header);
      std::copy_n(d.begin() + static_cast<std::ptrdiff_t>(at), n, page.begin() + static_cast<std::ptrdiff_t>(header));
      used = header + n;
    }
    at += k == 0 ? used : used - header;
    uint32_t next = k + 1 < table.definitionPages ? table.newPage + k + 1 : 0;
    putLe32(page.data() + f.tdefNextPageOffset, next);
    // Jet 4 keeps the page's free space where Jet 3 has its 'VC' signature.
    if (f.version == Version::Jet4)
      putLe16(page.data() + 2, used + 8 >= f.pageSize ? 0 : static_cast<uint32_t>(f.pageSize - 8 - used));
    writer.write(table.newPage + k, std::move(page));
  }
  if (at != d.size())
    fail(ErrorCode::InvalidArgument, "the definition of table " + table.name + " did not fit its pages");
}

}  // namespace jet
