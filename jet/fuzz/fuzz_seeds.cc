// Cuts seed inputs for the fuzz targets out of the sample databases:
//   index_page/  one file per index page (version byte + page)
//   table_page/  one file per table with rows (version byte + a data page + its definition page + a long-value page)
//   database/    the smaller sample files whole
// Usage: jet_fuzz_seeds SAMPLES_DIR OUT_DIR. The seeds are scratch files: they stay out of the repository.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jet/read/database.h"
#include "jet/read/table_scan.h"

namespace fs = std::filesystem;

namespace {

constexpr uintmax_t kMaxWholeFile = 300 * 1024;

void write(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> pageOf(const std::vector<uint8_t>& file, uint32_t pageSize, uint32_t n) {
  auto at = file.begin() + static_cast<std::ptrdiff_t>(size_t{n} * pageSize);
  return std::vector<uint8_t>(at, at + pageSize);
}

void cut(const fs::path& sample, const fs::path& out, size_t& seeds) {
  std::ifstream in(sample, std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto db = jet::Database::open(sample.string());
  const uint32_t size = db->pages().pageSize();
  const uint8_t version = db->header().version() == jet::Version::Jet3 ? 0 : 1;
  const std::string stem = sample.stem().string();

  uint32_t longValuePage = 0;
  for (uint32_t n = 1; n < db->pages().pageCount(); ++n) {
    std::vector<uint8_t> page = pageOf(file, size, n);
    if (page[0] == 0x03 || page[0] == 0x04) {
      page.insert(page.begin(), version);
      write(out / "index_page" / (stem + "-" + std::to_string(n)), page);
      ++seeds;
    }
    if (longValuePage == 0 && page[0] == 0x01 && page[4] == 'L' && page[5] == 'V') longValuePage = n;
  }
  for (const jet::CatalogEntry* e : db->catalog().tables(true)) {
    jet::TableDef def = db->tableDefAt(e->tablePage());
    jet::TableScan scan(db->pages(), def);
    jet::RowRecord rec;
    if (!scan.next(rec)) continue;
    std::vector<uint8_t> seed{version};
    for (uint32_t n : {rec.home.page, def.page, longValuePage != 0 ? longValuePage : 1u}) {
      std::vector<uint8_t> page = pageOf(file, size, n);
      seed.insert(seed.end(), page.begin(), page.end());
    }
    write(out / "table_page" / (stem + "-" + std::to_string(def.page)), seed);
    ++seeds;
  }
  if (fs::file_size(sample) <= kMaxWholeFile) {
    write(out / "database" / stem, file);
    ++seeds;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: jet_fuzz_seeds SAMPLES_DIR OUT_DIR\n", stderr);
    return 2;
  }
  fs::path out(argv[2]);
  for (const char* sub : {"index_page", "table_page", "database"}) fs::create_directories(out / sub);
  size_t seeds = 0;
  for (const auto& e : fs::recursive_directory_iterator(argv[1])) {
    if (e.path().extension() != ".mdb") continue;
    try {
      cut(e.path(), out, seeds);
    } catch (const jet::Error& err) {
      std::fprintf(stderr, "jet_fuzz_seeds: skipping %s\n", err.what());
    }
  }
  std::printf("%zu seeds in %s\n", seeds, out.c_str());
  return 0;
}
