#include "startup/nextfield.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/runtime_error.h"

namespace startup {
namespace {

struct Row {
  std::u16string before;
  std::u16string field;
  std::u16string after;
};

class NextfieldRow : public ::testing::TestWithParam<Row> {};

TEST_P(NextfieldRow, ReturnsTheFirstFieldAndLeavesTheRest) {
  const Row& row = GetParam();
  std::u16string list = row.before;
  EXPECT_EQ(nextfield(list), row.field);
  EXPECT_EQ(list, row.after);
}

INSTANTIATE_TEST_SUITE_P(Table, NextfieldRow,
                         ::testing::Values(Row{u"", u"", u""}, Row{u"a,b", u"a", u"b"}, Row{u"a,  b ", u"a", u"b "},
                                           Row{u"a ,b", u"a ", u"b"}, Row{u" ,a", u" ", u"a"}, Row{u"a,  ", u"a", u""},
                                           Row{u"a;b", u"a", u""}, Row{u"a,b;c", u"a", u"b;c"}, Row{u"a,", u"a", u""},
                                           Row{u",a", u"", u"a"}, Row{u";a", u"", u""}, Row{u"\"x,y\",z", u"x,y", u"z"},
                                           Row{u"'x;y';z", u"x;y", u""}, Row{u"\"x,y',z", u"x,y", u"z"},
                                           Row{u"it's,b", u"its,b", u""}, Row{u"\"a,b", u"a,b", u""},
                                           Row{u"a\x01"
                                               u"b",
                                               u"a\"b", u""},
                                           Row{u"\"\",x", u"", u"x"},
                                           // Only spaces are trimmed from the remainder; a tab stays.
                                           Row{u"a, \tb", u"a", u"\tb"},
                                           // Two names separated by spaces are one field.
                                           Row{u"one two", u"one two", u""}),
                         [](const ::testing::TestParamInfo<Row>& row) {
                           return "Row" + std::to_string(row.index + 1);
                         });

std::u16string letters(std::size_t count) { return std::u16string(count, u'x'); }

TEST(NextfieldPosition, ListsShorterThan32767NeverOverflow) {
  std::u16string list = letters(32766);
  EXPECT_EQ(nextfield(list), letters(32766));
  EXPECT_EQ(list, u"");
}

TEST(NextfieldPosition, ALongListWithoutEarlySeparatorFailsWithOverflowAndStaysUnchanged) {
  // The last list's comma lies inside quotes: it does not stop the scan.
  const std::u16string quoted = std::u16string(1, u'"').append(letters(100)).append(u",").append(letters(32700));
  for (const std::u16string& original :
       {letters(32767), letters(40000).append(u",b"), letters(32767).append(u",b"), quoted}) {
    std::u16string list = original;
    try {
      nextfield(list);
      ADD_FAILURE() << "no failure for a list of " << original.size() << " characters";
    } catch (const platform::RuntimeError& failure) {
      EXPECT_EQ(failure.number(), 6);
    }
    EXPECT_EQ(list, original);
  }
}

TEST(NextfieldPosition, ASeparatorAtPosition32767OrBeforeStopsInTime) {
  std::u16string list = letters(32766) + u",rest";
  EXPECT_EQ(nextfield(list), letters(32766));
  EXPECT_EQ(list, u"rest");

  list = letters(10) + u";" + letters(50000);
  EXPECT_EQ(nextfield(list), letters(10));
  EXPECT_EQ(list, u"");
}

TEST(NextfieldPosition, CountsUtf16UnitsNotCodePoints) {
  // 16383 characters outside the basic plane are 32766 units: the limit is not reached.
  std::u16string list;
  for (int i = 0; i < 16383; ++i) list += u"\U0001F600";
  const std::u16string original = list;
  EXPECT_EQ(nextfield(list), original);

  list = original + u"\U0001F600";  // 32768 units
  EXPECT_THROW(nextfield(list), platform::RuntimeError);
}

}  // namespace
}  // namespace startup
