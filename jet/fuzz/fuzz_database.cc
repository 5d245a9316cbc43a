// Fuzzes everything at once: the input is a whole database file, opened, checked and exported.
//
// Most mutations keep the file's shape: they rewrite a window of one page in place, so that the pages stay where the
// file's pointers expect them and damage lands inside structures instead of shifting every later page. The rest are
// libFuzzer's own (which also grow, shrink and splice whole inputs).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "tools/jetdb/csv_export.h"
#include "jet/read/database.h"
#include "jet/errors.h"
#include "jet/check/integrity_check.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  std::minstd_rand rng(seed);
  const size_t pageSize = size > 0x14 && data[0x14] != 0 ? 4096 : 2048;
  if (size < 4 * pageSize || rng() % 4 == 0) return LLVMFuzzerMutate(data, size, maxSize);
  const size_t page = 1 + rng() % (size / pageSize - 1);
  const size_t window = std::min<size_t>(pageSize, 1 + rng() % 96);
  const size_t start = page * pageSize + rng() % (pageSize - window + 1);
  std::vector<uint8_t> bytes(data + start, data + start + window);
  size_t n = LLVMFuzzerMutate(bytes.data(), window, window);
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), data + start);
  return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "w");
  try {
    jet::Database db(std::make_unique<jet::MemorySource>("fuzz.mdb", std::vector<uint8_t>(data, data + size)), 32);
    jet::checkDatabase(db);
    // Both row orders: where rows are at home, and where mdb-export meets them; the second with the rows read ahead
    // on a thread of their own, as a large table's are.
    jet::CsvStyle likeMdbExport;
    likeMdbExport.mdbExportQuirks = true;
    likeMdbExport.rowOrder = jet::ScanOrder::WhereStored;
    likeMdbExport.readAheadPages = 0;
    for (const jet::CsvStyle& style : {jet::CsvStyle{}, likeMdbExport}) {
      for (const jet::CatalogEntry* e : db.catalog().tables(true)) {
        try {
          jet::exportCsv(db, db.tableDefAt(e->tablePage()), sink, style);
        } catch (const jet::Error& err) {
          if (err.number() != 3049) std::abort();
        }
      }
    }
  } catch (const jet::Error& e) {
    if (e.number() != 3049 && e.number() != 3343) std::abort();
  }
  return 0;
}
