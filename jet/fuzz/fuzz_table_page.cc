// Fuzzes the table definition, row, value, long-value and usage-map decoders: page 1 of a small made-up database is
// a data page, page 2 the table's definition and page 3 a long-value or usage-map page, all cut from the input.
#include <cstdlib>

#include "jet/format/data_page.h"
#include "jet/errors.h"
#include "jet/fuzz/fuzz_file.h"
#include "jet/pager/page_reader.h"
#include "jet/format/row_layout.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/format/value.h"

namespace {

void readRows(jet::PageReader& pages, const jet::TableDef& def) {
  const jet::Format& f = pages.format();
  jet::PageHandle handle = pages.page(1);
  jet::Bytes page(*handle);
  uint16_t count = jet::dataPageRowCount(f, page);
  jet::RowLayout layout;
  jet::Value value;
  for (uint16_t r = 0; r < count; ++r) {
    try {
      jet::RowSlot slot = jet::dataPageRow(f, page, r);
      if (slot.deleted() || slot.overflow()) continue;
      jet::Bytes row = jet::dataPageRowBytes(page, slot);
      jet::crackRow(f, def, row, layout);
      for (size_t c = 0; c < def.columns.size(); ++c)
        jet::decodeValue(pages, def.columns[c], row, layout.fields[c], value);
    } catch (const jet::Error& e) {
      if (e.number() != 3049) std::abort();
    }
    try {
      jet::UsageMap map = jet::readUsageMap(pages, jet::RowPointer{1, static_cast<uint8_t>(r)});
      jet::mappedPages(pages, map);
    } catch (const jet::Error& e) {
      if (e.number() != 3049) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const jet::Format& f = jet::fuzzing::formatOf(data, size);
  try {
    jet::PageReader pages(
        std::make_unique<jet::MemorySource>("fuzz.mdb", jet::fuzzing::fileFromInput(f, data, size, 3)), 8);
    jet::TableDef def = jet::readTableDef(pages, 2);
    readRows(pages, def);
  } catch (const jet::Error& e) {
    if (e.number() != 3049) std::abort();
  }
  return 0;
}
