// Fuzzes everything at once: the input is a whole database file, opened, checked and exported. Mutations keep the
// file's shape for the most part (see mutateWithinPages).
#include <cstdio>
#include <cstdlib>

#include "tools/jetdb/csv_export.h"
#include "jet/read/database.h"
#include "jet/errors.h"
#include "jet/check/integrity_check.h"
#include "jet/fuzz/fuzz_file.h"

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  return jet::fuzzing::mutateWithinPages(data, size, maxSize, seed);
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
