#include "jet/testing/compact_test_support.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "jet/testing/reader_test_support.h"

namespace jet::compact_testing {
namespace {

std::string readAll(std::FILE* f) {
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  return out;
}

}  // namespace

std::string dumpTables(Database& db, bool includeSystem, const CsvStyle& style) {
  std::string out;
  for (const CatalogEntry* e : db.catalog().tables(includeSystem)) {
    out += "## " + e->name + "\n" + reader_testing::exportCsvText(db, db.tableDefAt(e->tablePage()), style);
  }
  return out;
}

std::string dumpTable(Database& db, const std::string& table, const CsvStyle& style) {
  return reader_testing::exportCsvText(db, db.tableDef(table), style);
}

std::string fileDigest(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // FNV-1a over the bytes plus the size: enough to see any change a test could make.
  uint64_t h = 1469598103934665603ull;
  for (char c : bytes) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  return std::to_string(bytes.size()) + ":" + std::to_string(h);
}

std::string runCommand(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> p(::popen(command.c_str(), "r"), ::pclose);
  if (!p) return {};
  return readAll(p.get());
}

}  // namespace jet::compact_testing
