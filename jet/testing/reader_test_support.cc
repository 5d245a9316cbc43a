#include "jet/testing/reader_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <stdexcept>

#include "jet/pager/header.h"
#include "jet/os/page_source.h"
#include "jet/pager/rc4.h"
#include "jet/format/row_layout.h"

namespace jet::reader_testing {

namespace fs = std::filesystem;

fs::path samplesDir() {
  const char* dir = std::getenv("JET_SAMPLES");
  if (dir == nullptr || *dir == 0) return {};
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return {};
  return fs::path(dir);
}

void encodeWithKey(std::vector<uint8_t>& bytes, uint32_t key) {
  const Format& f = bytes[0x14] == 0 ? kJet3Format : kJet4Format;
  std::span<uint8_t> header(bytes.data(), f.pageSize);
  unmaskHeader(header, f);
  for (size_t k = 0; k < 4; ++k) header[f.encodingKeyOffset + k] = static_cast<uint8_t>(key >> (8 * k));
  unmaskHeader(header, f);
  for (uint32_t n = 1; n < bytes.size() / f.pageSize; ++n) {
    cryptPage(std::span<uint8_t>(bytes.data() + size_t{n} * f.pageSize, f.pageSize), key, n);
  }
}

std::string exportCsvText(Database& db, const TableDef& def, const CsvStyle& style) {
  std::unique_ptr<FILE, int (*)(FILE*)> tmp(std::tmpfile(), std::fclose);
  if (!tmp) throw std::runtime_error("no temporary file for the CSV export");
  exportCsv(db, def, tmp.get(), style);
  std::fflush(tmp.get());
  std::rewind(tmp.get());
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, tmp.get())) > 0) out.append(buf, n);
  return out;
}

bool findChainedLongValue(const std::vector<uint8_t>& bytes, std::vector<LongValuePiece>& pieces, std::string* table,
                          RowLocation* home) {
  Database db(std::make_unique<MemorySource>("s", bytes));
  for (const CatalogEntry* e : db.catalog().tables(true)) {
    TableDef def = db.tableDefAt(e->tablePage());
    TableScan scan(db.pages(), def);
    RowRecord rec;
    RowLayout layout;
    while (scan.next(rec)) {
      crackRow(db.format(), def, rec.bytes, layout);
      for (size_t k = 0; k < def.columns.size(); ++k) {
        if (!isLongValueType(def.columns[k].type) || !layout.fields[k].present) continue;
        LongValueRef ref = parseLongValueRef(rec.bytes.subspan(layout.fields[k].offset, layout.fields[k].length));
        if (ref.kind != LongValueRef::Kind::Chain) continue;
        std::vector<uint8_t> data;
        pieces.clear();
        readLongValue(db.pages(), ref, data, SIZE_MAX, &pieces);
        if (pieces.size() < 2) continue;
        if (table != nullptr) *table = e->name;
        if (home != nullptr) *home = rec.home;
        return true;
      }
    }
  }
  return false;
}

std::vector<fs::path> allSamples() {
  std::vector<fs::path> out;
  fs::path dir = samplesDir();
  if (dir.empty()) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file() && e.path().extension() == ".mdb") out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace jet::reader_testing
