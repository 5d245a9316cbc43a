// Fuzzes everything at once: the input is a whole database file, opened, checked and exported.
#include <cstdio>
#include <cstdlib>

#include "jet/csv_export.h"
#include "jet/database.h"
#include "jet/errors.h"
#include "jet/integrity_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "w");
  try {
    jet::Database db(std::make_unique<jet::MemorySource>("fuzz.mdb", std::vector<uint8_t>(data, data + size)), 32);
    jet::checkDatabase(db);
    for (const jet::CatalogEntry* e : db.catalog().tables(true)) {
      try {
        jet::exportCsv(db, db.tableDefAt(e->tablePage()), sink);
      } catch (const jet::Error& err) {
        if (err.number() != 3049) std::abort();
      }
    }
  } catch (const jet::Error& e) {
    if (e.number() != 3049 && e.number() != 3343) std::abort();
  }
  return 0;
}
