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

TEST(Utf8, ConvertsBothWaysIncludingCharactersOutsideTheBasicPlane) {
  const std::string text = "ČAŠA \xF0\x9F\x98\x80.mdb";
  EXPECT_EQ(fromUtf8(text), u"ČAŠA \U0001F600.mdb");
  EXPECT_EQ(toUtf8(fromUtf8(text)), text);
}

TEST(Utf8, BytesThatAreNotUtf8SurviveTheRoundTrip) {
  // A Latin-2 name, an overlong slash and an encoded surrogate: none of them is UTF-8.
  for (const std::string& bytes : std::vector<std::string>{std::string("\xE8" "a\x9A" "a.mdb"), std::string("\xC0\xAF"),
                                  std::string("\xED\xA0\x80"), std::string("\xF0\x9F\x98")}) {
    const std::u16string wide = fromUtf8(bytes);
    EXPECT_EQ(wide.size(), bytes.size());  // one unit per byte that is not UTF-8
    EXPECT_EQ(toUtf8(wide), bytes);
  }
  EXPECT_EQ(toUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // a lone high surrogate cannot be written
}

}  // namespace
}  // namespace platform
