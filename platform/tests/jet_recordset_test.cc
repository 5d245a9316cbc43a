// A generated database's table as a recordset.

#include "platform/jet_recordset.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "jet/create/generator.h"
#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/testing/test_files.h"

namespace platform {
namespace {

std::int32_t failureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

class JetRecordset : public ::testing::Test {
 protected:
  void SetUp() override {
    jet::create::GeneratorOptions options;
    options.articles = 40;
    options.bloatPercent = 40;  // deleted rows must not be counted or visited
    summary = jet::create::generateDatabase(file.string(), options);
  }

  testing::TempFolder folder{"jet_recordset_test"};
  std::filesystem::path file = folder.path() / "data.mdb";
  jet::create::GeneratorSummary summary;
};

TEST_F(JetRecordset, VisitsEveryLiveRowOnceWithItsCountKnownBeforeTheFirstMove) {
  auto records = openTableRecordset(file, u"Artikli");
  ASSERT_GT(summary.articles, 0U);
  ASSERT_LT(summary.articles, 40U);
  EXPECT_EQ(records->recordCount(), static_cast<std::int32_t>(summary.articles));
  EXPECT_FALSE(records->eof());
  EXPECT_EQ(records->absolutePosition(), 1);

  std::set<std::u16string> idents;
  const std::u16string first = records->field(u"ident");
  std::int32_t expected = 1;
  for (records->moveFirst(); !records->eof(); records->moveNext()) {
    EXPECT_EQ(records->absolutePosition(), expected++);
    EXPECT_FALSE(records->field(u"skl").empty());
    idents.insert(records->field(u"IDENT"));  // names are found without regard to case
  }
  EXPECT_EQ(idents.size(), summary.articles) << "article codes are unique";
  EXPECT_EQ(records->absolutePosition(), Recordset::kPositionAfterLast);
  EXPECT_EQ(failureOf([&] { records->field(u"skl"); }), error::kNoCurrentRecord);
  EXPECT_EQ(failureOf([&] { records->moveNext(); }), error::kNoCurrentRecord);

  // Again from the start.
  records->moveFirst();
  EXPECT_EQ(records->absolutePosition(), 1);
  EXPECT_EQ(records->field(u"ident"), first);
  EXPECT_TRUE(records->hasField(u"naziv"));
  EXPECT_FALSE(records->hasField(u"nothing"));
  EXPECT_EQ(failureOf([&] { records->field(u"nothing"); }), error::kItemNotFound);
}

TEST_F(JetRecordset, OpeningFailsWithTheEnginesNumbers) {
  EXPECT_EQ(failureOf([&] { openTableRecordset(file, u"Nothing"); }), 3078);
  EXPECT_EQ(failureOf([&] { openTableRecordset(folder.path() / "none.mdb", u"Artikli"); }), 3024);
  testing::writeFile(folder.path() / "text.mdb", std::string(4096, 'x'));
  EXPECT_EQ(failureOf([&] { openTableRecordset(folder.path() / "text.mdb", u"Artikli"); }), 3343);
}

}  // namespace
}  // namespace platform
