#include "platform/text.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Trim, RemovesSpacesOnlyFromTheEnds) {
  EXPECT_EQ(trimSpaces(u"  a b  "), u"a b");
  EXPECT_EQ(trimSpaces(u"\t a \t"), u"\t a \t");
  EXPECT_EQ(trimSpaces(u"    "), u"");
  EXPECT_EQ(leftTrimSpaces(u"  a  "), u"a  ");
  EXPECT_EQ(leftTrimSpaces(u"   "), u"");
}

TEST(UpperCase, MapsLatinLettersOfEveryWesternAndCentralEuropeanScript) {
  EXPECT_EQ(upperCase(u"data.mdb"), u"DATA.MDB");
  EXPECT_EQ(upperCase(u"čšžćđ äöüéñ ÿ"), u"ČŠŽĆĐ ÄÖÜÉÑ Ÿ");
  EXPECT_EQ(upperCase(u"ŁŃ łń ő ű ř"), u"ŁŃ ŁŃ Ő Ű Ř");
  EXPECT_EQ(upperCase(u"÷ 1,;\"'"), u"÷ 1,;\"'");
  // Keeps one unit per unit, so positions stay where they were.
  EXPECT_EQ(upperCase(u"ß\U0001F600x"), u"ß\U0001F600X");
}

TEST(Decimal, WritesSignedNumbers) {
  EXPECT_EQ(decimal(0), u"0");
  EXPECT_EQ(decimal(3356), u"3356");
  EXPECT_EQ(decimal(-2147483647 - 1), u"-2147483648");
}

// The conversions themselves are the engine's (jet/os/unicode); here only that they are the ones in use.
TEST(Utf8, ConvertsAsTheEngineDoes) {
  const std::string text = "ČAŠA \xF0\x9F\x98\x80.mdb";
  EXPECT_EQ(fromUtf8(text), u"ČAŠA \U0001F600.mdb");
  EXPECT_EQ(toUtf8(fromUtf8("\xE8"
                            "a.mdb")),
            "\xE8"
            "a.mdb");
}

}  // namespace
}  // namespace platform
