#include "jet/testing/generated_database.h"

#include "jet/create/generator.h"
#include "jet/testing/reader_test_support.h"

namespace jet::reader_testing {
namespace {

struct Generated {
  Generated() {
    path = dir.path() / "generated.mdb";
    create::GeneratorOptions options;
    // Enough for several data pages per user table and long values chained over pages, little enough to make in a
    // few milliseconds and for its catalog's index trees to be single leaves.
    options.articles = 60;
    options.seed = 1;
    options.bloatPercent = 20;
    create::generateDatabase(path.string(), options);
    bytes = readFile(path);
  }
  TempDir dir;
  std::filesystem::path path;
  std::vector<uint8_t> bytes;
};

const Generated& generated() {
  static const Generated g;
  return g;
}

}  // namespace

const std::filesystem::path& generatedDatabasePath() { return generated().path; }
const std::vector<uint8_t>& generatedDatabase() { return generated().bytes; }

}  // namespace jet::reader_testing
