// A database made by the generator, for the tests that need a sound database of some kind rather than a particular
// sample file: they run where the sample databases are absent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace jet::reader_testing {

// A small Jet 4 database of articles and their stock movements (with chained long values, a foreign key and deleted
// rows), generated once per test program into a temporary folder that goes away with the program. Read-only: tests
// that damage it copy it first.
const std::filesystem::path& generatedDatabasePath();
const std::vector<uint8_t>& generatedDatabase();

}  // namespace jet::reader_testing
