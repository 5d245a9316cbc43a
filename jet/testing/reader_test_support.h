// Helpers shared by the reader tests: locating the sample databases, making scratch copies of them, giving a copy an
// encoding key, exporting a table as CSV text, and finding a long value worth damaging.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/testing/temp_folder.h"
#include "tools/jetdb/csv_export.h"
#include "jet/read/database.h"
#include "jet/format/long_value.h"
#include "jet/read/table_scan.h"

namespace jet::reader_testing {

// The folder of sample databases (environment variable JET_SAMPLES), or empty when it is not available.
std::filesystem::path samplesDir();
// Every .mdb file under the samples folder, sorted.
std::vector<std::filesystem::path> allSamples();
std::vector<uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Gives a database without an encoding key the key `key`: the key goes into the masked header, and every page but
// the header is RC4-encrypted with (key XOR page number), as Jet stores such a database.
void encodeWithKey(std::vector<uint8_t>& bytes, uint32_t key);

// The table exported as CSV text in `style`.
std::string exportCsvText(Database& db, const TableDef& def, const CsvStyle& style = {});

// Finds the first long value of the database stored as a chain of at least two rows: its pieces and, when asked,
// the table and row holding it. False when there is none.
bool findChainedLongValue(const std::vector<uint8_t>& bytes, std::vector<LongValuePiece>& pieces,
                          std::string* table = nullptr, RowLocation* home = nullptr);

// A fresh temporary folder, removed when the object goes away.
class TempDir : public test_support::TempFolder {
 public:
  TempDir() : TempFolder("jet-test") {}
};

}  // namespace jet::reader_testing

#define JET_REQUIRE_SAMPLES()                                                                             \
  do {                                                                                                    \
    if (::jet::reader_testing::samplesDir().empty()) GTEST_SKIP() << "JET_SAMPLES is not set or missing"; \
  } while (0)
