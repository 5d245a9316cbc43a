// jetdb: inspects Jet 3 / Jet 4 databases with the project's own engine.
//
//   jetdb info FILE           version, page size and count, sort order, code page, encoding, password (set or not),
//                             and each table with its row count and data page count
//   jetdb tables FILE         names of the user tables, one a line
//   jetdb columns FILE TABLE  the table's columns: number, name, type, length, flags
//   jetdb dump [--like-mdb-export] FILE [TABLE]
//                             rows as CSV in mdb-export's default form; without TABLE every user table in turn.
//                             --like-mdb-export also reproduces where mdb-export 1.0 cuts or alters values (binary and
//                             text end at a NUL, '?' for undefined code-page bytes, its GUID grouping) and its row
//                             order (a row Access moved after an update where its bytes sit, not at its home slot)
//                             for byte-exact comparison
//   jetdb check [--strict] FILE
//                             checks page owners, usage maps, rows, long values and every index; prints each problem
//                             with its table, page and row. Exit status 0 when there is no error (stale counters are
//                             warnings and do not fail the check unless --strict is given), 1 otherwise
//   jetdb compact SRC DST [LOCALE]
//                             writes a compacted copy of SRC to DST (which must not exist), e.g. with LOCALE
//                             ";LANGID=0x0424;CP=1250;COUNTRY=0". The copy keeps SRC's sort order and code page whatever
//                             LOCALE asks for (see the README). Prints the sizes; per-table progress on a terminal
//
//   jetdb walk FILE [TABLE] [--delay MS]
//                             moves through TABLE (Artikli by default) record by record in the status window, waiting
//                             MS milliseconds after each; status 4 when the user stops it (see walk_command.h)
//
//   jetdb gen FILE --rows N [--seed S] [--bloat PERCENT] [--log-rows N]
//                             writes a new Jet 4 database of an article and stock application (N articles, 3N stock
//                             movements), the same bytes for the same seed; with --bloat that share of rows deleted and
//                             work tables filled and dropped
//
// Exit status: 0 on success, 1 when the engine reports an error (the message names the file and the error number),
// 2 on a usage error.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "jet/compact/compact.h"
#include "tools/jetdb/gen_command.h"
#include "tools/jetdb/csv_export.h"
#include "jet/read/database.h"
#include "jet/check/integrity_check.h"
#include "jet/read/table_scan.h"
#include "jet/format/value.h"
#include "jet/os/heap.h"
#include "tools/jetdb/walk_command.h"

namespace {

int usage() {
  std::fputs(
      "usage: jetdb info FILE\n"
      "       jetdb tables FILE\n"
      "       jetdb columns FILE TABLE\n"
      "       jetdb dump [--like-mdb-export] FILE [TABLE]\n"
      "       jetdb check [--strict] FILE\n"
      "       jetdb compact SRC DST [LOCALE]\n"
      "       jetdb gen FILE --rows N [--seed S] [--bloat PERCENT] [--log-rows N]\n"
      "       jetdb walk FILE [TABLE] [--delay MS]\n",
      stderr);
  return 2;
}

const char* versionName(jet::Version v) {
  return v == jet::Version::Jet3 ? "Jet 3 (Access 97)" : "Jet 4 (Access 2000-2003)";
}

int info(jet::Database& db) {
  const jet::DatabaseHeader& h = db.header();
  std::printf("File: %s\n", db.name().c_str());
  std::printf("Version: %s\n", versionName(h.version()));
  if (h.workgroupFile) std::printf("Kind: workgroup information file (users, groups and permissions)\n");
  std::printf("Page size: %u\n", db.pages().pageSize());
  std::printf("Pages: %u%s\n", db.pages().pageCount(), db.pages().hasPartialPage() ? " (plus a partial page)" : "");
  std::printf("Sort order: 0x%04X", h.sortOrder);
  if (h.version() == jet::Version::Jet4) std::printf(" (sort version %u)", h.sortVersion);
  std::printf("\nCode page: %u\n", h.codePage);
  if (h.encodingKey != 0) {
    std::printf("Encoding: RC4, key 0x%08X\n", h.encodingKey);
  } else {
    std::printf("Encoding: none\n");
  }
  std::printf("Password: %s\n", h.hasPassword ? "set" : "not set");
  if (h.version() == jet::Version::Jet4) {
    jet::CivilDateTime t = jet::toCivil(h.creationDate);
    std::printf("Created: %04lld-%02d-%02d %02d:%02d:%02d\n", static_cast<long long>(t.year), t.month, t.day, t.hour,
                t.minute, t.second);
  }
  std::printf("Tables:\n");
  for (const jet::CatalogEntry* e : db.catalog().tables(true)) {
    jet::TableDef def = db.tableDefAt(e->tablePage());
    uint64_t rows = 0;
    size_t pages = 0;
    db.withFileName([&] {
      jet::TableScan scan(db.pages(), def);
      jet::RowRecord rec;
      while (scan.next(rec)) ++rows;
      pages = scan.pages().size() - scan.foreignPages().size();
    });
    std::printf("  %-32s rows %-8llu data pages %-6zu definition at page %u (%zu page%s)%s\n", e->name.c_str(),
                static_cast<unsigned long long>(rows), pages, def.page, def.pages.size(),
                def.pages.size() == 1 ? "" : "s", e->isSystem() ? "  (system)" : "");
  }
  return 0;
}

int columns(jet::Database& db, const char* table) {
  jet::TableDef def = db.tableDef(table);
  for (size_t k : jet::columnsInNumberOrder(def)) {
    const jet::ColumnDef& c = def.columns[k];
    std::printf("%3u %-30s %-14s type 0x%02X length %-5u flags 0x%02X%s\n", c.number, c.name.c_str(),
                jet::columnTypeName(c.type), static_cast<unsigned>(c.type), c.length, c.flags,
                c.isFixed() ? " fixed" : "");
  }
  return 0;
}

int dump(jet::Database& db, const char* table, const jet::CsvStyle& style) {
  if (table != nullptr) {
    jet::TableDef def = db.tableDef(table);
    jet::exportCsv(db, def, stdout, style);
    return 0;
  }
  db.pages().hintWholeFile();  // every table's pages: nearly the whole file
  bool first = true;
  for (const jet::CatalogEntry* e : db.catalog().tables(false)) {
    if (!first) std::fputc('\n', stdout);
    first = false;
    std::printf("## %s\n", e->name.c_str());
    jet::TableDef def = db.tableDefAt(e->tablePage());
    jet::exportCsv(db, def, stdout, style);
  }
  return 0;
}

int check(jet::Database& db, bool strict) {
  db.pages().hintWholeFile();  // the check reads every page
  jet::CheckReport report = db.withFileName([&] { return jet::checkDatabase(db); });
  for (const jet::Problem& p : report.problems) {
    std::printf("%s: %s\n", db.name().c_str(), jet::describeProblem(p).c_str());
  }
  std::printf(
      "%s: %zu errors, %zu warnings; checked %llu tables, %llu rows, %llu indexes with %llu entries, "
      "%llu long values, %llu pages in use\n",
      db.name().c_str(), report.errors(), report.warnings(), static_cast<unsigned long long>(report.tables),
      static_cast<unsigned long long>(report.rows), static_cast<unsigned long long>(report.indexes),
      static_cast<unsigned long long>(report.indexEntries), static_cast<unsigned long long>(report.longValues),
      static_cast<unsigned long long>(report.pagesInUse));
  if (report.errors() > 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "jetdb: %s: the database is damaged: %zu problems found (error %d)\n", db.name().c_str(),
                 report.errors(), static_cast<int>(jet::ErrorCode::Corrupt));
  }
  return report.clean(strict) ? 0 : 1;
}

int compact(const char* source, const char* destination, const char* locale) {
  jet::CompactOptions options;
  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  if (terminal) {
    options.progress = [](const std::string& table, size_t position, size_t count) {
      std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", position + 1, count, table.c_str());
    };
  }
  jet::CompactReport r;
  try {
    r = jet::compactDatabase(source, destination, locale != nullptr ? locale : "", options);
  } catch (...) {
    if (terminal) std::fputs("\r\033[K", stderr);
    throw;
  }
  if (terminal) std::fputs("\r\033[K", stderr);
  std::printf("%s -> %s: %u pages -> %u pages; %zu tables, %llu rows, %llu long values, %llu index entries\n", source,
              destination, r.sourcePages, r.destinationPages, r.tables, static_cast<unsigned long long>(r.rows),
              static_cast<unsigned long long>(r.longValues), static_cast<unsigned long long>(r.indexEntries));
  if (r.droppedRows > 0) {
    std::printf("left out %llu permission or navigation rows of tables that no longer exist\n",
                static_cast<unsigned long long>(r.droppedRows));
  }
  if (r.leftBehindRows > 0) {
    std::printf("left out %llu stale rows on pages that no table's map lists and no row count includes\n",
                static_cast<unsigned long long>(r.leftBehindRows));
  }
  if (r.requestedSortOrder != 0 && r.requestedSortOrder != r.sortOrder) {
    std::printf("sort order 0x%04X kept (0x%04X was asked for; text keys for another order cannot be computed)\n",
                r.sortOrder, r.requestedSortOrder);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  jet::prepareHeapForRun();
  std::vector<char*> args(argv, argv + argc);
  jet::CsvStyle style;
  if (args.size() > 2 && std::strcmp(args[1], "dump") == 0 && std::strcmp(args[2], "--like-mdb-export") == 0) {
    style.mdbExportQuirks = true;
    style.rowOrder = jet::ScanOrder::WhereStored;
    args.erase(args.begin() + 2);
  }
  bool strict = false;
  if (args.size() > 2 && std::strcmp(args[1], "check") == 0 && std::strcmp(args[2], "--strict") == 0) {
    strict = true;
    args.erase(args.begin() + 2);
  }
  argc = static_cast<int>(args.size());
  argv = args.data();
  if (argc < 3) return usage();
  const std::string command = argv[1];
  const char* file = argv[2];
  try {
    if (command == "info" && argc == 3) {
      auto db = jet::Database::open(file);
      return info(*db);
    }
    if (command == "tables" && argc == 3) {
      auto db = jet::Database::open(file);
      for (const jet::CatalogEntry* e : db->catalog().tables(false)) std::printf("%s\n", e->name.c_str());
      return 0;
    }
    if (command == "columns" && argc == 4) {
      auto db = jet::Database::open(file);
      return columns(*db, argv[3]);
    }
    if (command == "dump" && (argc == 3 || argc == 4)) {
      auto db = jet::Database::open(file);
      return dump(*db, argc == 4 ? argv[3] : nullptr, style);
    }
    if (command == "compact" && (argc == 4 || argc == 5)) {
      return compact(file, argv[3], argc == 5 ? argv[4] : nullptr);
    }
    if (command == "gen") return jet::create::runGenCommand(argc - 2, argv + 2);
    if (command == "walk") return tools::runWalkCommand(argc - 2, argv + 2);
    if (command == "check" && argc == 3) {
      auto db = jet::Database::open(file);
      return check(*db, strict);
    }
  } catch (const jet::Error& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "jetdb: %s (error %d)\n", e.what(), e.number());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "jetdb: %s: out of memory\n", file);
    return 1;
  }
  return usage();
}
