// Compaction of generated databases, larger than the samples: tables whose pages need reference usage maps, index
// trees with node levels, long values in every storage form, deleted rows and dropped tables.
#include <gtest/gtest.h>

#include "jet/testing/compact_test_support.h"
#include "jet/compact/compact.h"
#include "jet/create/generator.h"
#include "jet/check/integrity_check.h"
#include "jet/testing/reader_test_support.h"

namespace jet {
namespace {

using namespace reader_testing;
using namespace compact_testing;
namespace fs = std::filesystem;

TEST(CompactGenerated, ABloatedDatabaseCompactsToAnEquivalentFile) {
  TempDir tmp;
  const fs::path source = tmp.path() / "gen.mdb";
  create::GeneratorOptions options;
  options.articles = 3000;
  options.seed = 7;
  options.bloatPercent = 40;
  create::generateDatabase(source.string(), options);
  const std::string before = fileDigest(source);

  const fs::path once = tmp.path() / "once.mdb";
  const fs::path twice = tmp.path() / "twice.mdb";
  CompactReport report = compactDatabase(source, once, ";LANGID=0x0424;CP=1250;COUNTRY=0");
  EXPECT_EQ(fileDigest(source), before);
  EXPECT_LT(report.destinationPages, report.sourcePages * 3 / 4);
  EXPECT_GT(report.longValues, 0u);

  auto original = Database::open(source);
  auto result = Database::open(once);
  CheckReport check = checkDatabase(*result);
  EXPECT_TRUE(check.clean(true)) << (check.problems.empty() ? "" : describeProblem(check.problems.front()));
  EXPECT_EQ(dumpTables(*result, false), dumpTables(*original, false));

  compactDatabase(once, twice, "");
  EXPECT_EQ(fileDigest(twice), fileDigest(once));
}

}  // namespace
}  // namespace jet
