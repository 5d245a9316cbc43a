// Helpers of the compaction tests: table dumps, file hashes and the output of commands.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "tools/jetdb/csv_export.h"
#include "jet/read/database.h"

namespace jet::compact_testing {

// Every user table's rows as CSV (system tables too when asked), in catalog order.
std::string dumpTables(Database& db, bool includeSystem, const CsvStyle& style = {});
std::string dumpTable(Database& db, const std::string& table, const CsvStyle& style = {});
// A digest of the file's bytes, to prove a source was not changed.
std::string fileDigest(const std::filesystem::path& path);
std::string runCommand(const std::string& command);  // its standard output

}  // namespace jet::compact_testing
