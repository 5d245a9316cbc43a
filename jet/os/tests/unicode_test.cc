// UTF-8 and UTF-16 as every layer of the engine and the utility's platform convert them.
#include "jet/os/unicode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace jet::unicode {
namespace {

std::string utf8Of(char32_t code) {
  std::string out;
  appendUtf8(out, code);
  return out;
}

TEST(Utf8, EncodesEachLengthAtItsBoundaries) {
  EXPECT_EQ(utf8Of(0x41), "A");
  EXPECT_EQ(utf8Of(0x7F), "\x7F");
  EXPECT_EQ(utf8Of(0x80), "\xC2\x80");
  EXPECT_EQ(utf8Of(0x7FF), "\xDF\xBF");
  EXPECT_EQ(utf8Of(0x800), "\xE0\xA0\x80");
  EXPECT_EQ(utf8Of(0xFFFF), "\xEF\xBF\xBF");
  EXPECT_EQ(utf8Of(0x10000), "\xF0\x90\x80\x80");
  EXPECT_EQ(utf8Of(0x10FFFF), "\xF4\x8F\xBF\xBF");
  // A lone surrogate has no UTF-8 form.
  EXPECT_EQ(utf8Of(0xD800), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8Of(0xDFFF), "\xEF\xBF\xBD");
}

TEST(Utf8, DecodesEveryCodePointItEncodes) {
  for (char32_t code = 0; code <= 0x10FFFF; code += (code < 0x1000 ? 1 : 0x3F)) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    std::string bytes = "x";  // appended, not "x" + ...: GCC 12 warns falsely (-Wrestrict) on that at -O2
    bytes += utf8Of(code);
    char32_t decoded = 0;
    ASSERT_EQ(decodeUtf8(bytes, 1, decoded), bytes.size() - 1) << std::hex << static_cast<uint32_t>(code);
    EXPECT_EQ(decoded, code);
  }
}

TEST(Utf8, RefusesWhatIsNotOneWellFormedSequence) {
  for (const std::string& bytes : std::vector<std::string>{"\x80",              // a continuation byte alone
                                                           "\xC3",              // cut short
                                                           "\xE2\x82",          // cut short
                                                           "\xC3(",             // a lead byte without its continuation
                                                           "\xC0\xAF",          // an overlong '/'
                                                           "\xE0\x80\x80",      // an overlong NUL
                                                           "\xF0\x80\x80\x80",  // an overlong NUL
                                                           "\xED\xA0\x80",      // an encoded surrogate
                                                           "\xF4\x90\x80\x80",  // past U+10FFFF
                                                           "\xF8\x88\x80\x80\x80", "\xFF"}) {
    char32_t code = 0;
    EXPECT_EQ(decodeUtf8(bytes, 0, code), 0u) << testing::PrintToString(bytes);
  }
}

TEST(Utf8, ConvertsToUtf16AndBackIncludingCharactersOutsideTheBasicPlane) {
  const std::string text =
      "\xC4\x8C"
      "A\xC5\xA0"
      "A \xE2\x82\xAC \xF0\x9F\x98\x80.mdb";
  EXPECT_EQ(fromUtf8(text), u"ČAŠA € \U0001F600.mdb");
  EXPECT_EQ(toUtf8(fromUtf8(text)), text);
  std::u16string wide;
  appendUtf16(wide, 0x1F600);
  appendUtf16(wide, 0xFFFF);
  EXPECT_EQ(wide, u"\U0001F600\uFFFF");
}

TEST(Utf8, BytesThatAreNotUtf8SurviveTheRoundTripThroughUtf16) {
  // A Latin-2 name, an overlong slash, an encoded surrogate and a cut sequence: none of them is UTF-8.
  for (const std::string& bytes :
       std::vector<std::string>{std::string("\xE8"
                                            "a\x9A"
                                            "a.mdb"),
                                std::string("\xC0\xAF"), std::string("\xED\xA0\x80"), std::string("\xF0\x9F\x98")}) {
    const std::u16string wide = fromUtf8(bytes);
    EXPECT_EQ(wide.size(), bytes.size());  // one unit per byte that is not UTF-8
    EXPECT_EQ(toUtf8(wide), bytes);
  }
  EXPECT_EQ(toUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // a lone high surrogate cannot be written
  EXPECT_EQ(toUtf8(u"x\xDC00"), "x\xEF\xBF\xBD");  // nor a low one that stands for no byte
}

TEST(Utf8, PrefixEndsOnACharacterBoundary) {
  const std::string text = "ab\xC4\x8D\xE2\x82\xAC\xF0\x9F\x98\x80";  // a b č € 😀
  EXPECT_EQ(utf8Prefix(text, 100), text.size());
  EXPECT_EQ(utf8Prefix(text, text.size()), text.size());
  EXPECT_EQ(utf8Prefix(text, 2), 2u);
  EXPECT_EQ(utf8Prefix(text, 3), 2u);  // inside č
  EXPECT_EQ(utf8Prefix(text, 4), 4u);
  EXPECT_EQ(utf8Prefix(text, 6), 4u);   // inside €
  EXPECT_EQ(utf8Prefix(text, 10), 7u);  // inside the emoji
  EXPECT_EQ(utf8Prefix(text, 0), 0u);
  EXPECT_EQ(utf8Prefix("\x80\x80\x80", 2), 0u);
}

// The East Asian code pages of Access 97 files, two bytes a character beside ASCII, decoded by the system's converter.
// What a code page leaves undefined becomes one character and does not swallow the text after it.
TEST(CodePages, EastAsianTextDecodesAndUndefinedBytesStayLocal) {
  struct Sample {
    unsigned codePage;
    std::string bytes;
    std::string utf8;
  };
  for (const Sample& s : {Sample{936, "\xD6\xD0\xCE\xC4 GB", "\u4E2D\u6587 GB"},           // 中文
                          Sample{932, "\x93\xFA\x96\x7B\xB1", "\u65E5\u672C\uFF71"},       // 日本, half-width ｱ
                          Sample{949, "\xC7\xD1\xB1\xB9\xBE\xEE", "\uD55C\uAD6D\uC5B4"},  // 한국어
                          Sample{950, "\xA4\xA4\xA4\xE5", "\u4E2D\u6587"}}) {              // 中文 in Big5
    std::string out = "x";
    ASSERT_TRUE(appendFromCodePage(out, s.codePage, s.bytes)) << "code page " << s.codePage;
    EXPECT_EQ(out, "x" + s.utf8) << "code page " << s.codePage;
  }
  // A lead byte the text ends on, and one followed by a byte that cannot trail it: the pair is one character, as
  // Windows reads it (a character of its own choice there, U+FFFD here), and the text after it decodes.
  std::string cut;
  ASSERT_TRUE(appendFromCodePage(cut, 936, "\xD6\xD0\xD6"));
  EXPECT_EQ(cut.substr(0, 3), "\u4E2D");
  EXPECT_GT(cut.size(), 3u);
  std::string stray;
  ASSERT_TRUE(appendFromCodePage(stray, 932, "a\x81\x20\x93\xFA"));
  EXPECT_EQ(stray.substr(0, 1), "a");
  EXPECT_EQ(stray.substr(stray.size() - 3), "\u65E5");
#if !defined(_WIN32)
  EXPECT_EQ(cut, "\u4E2D\uFFFD");
  EXPECT_EQ(stray, "a\uFFFD\u65E5");
#endif
  // A converter that waits for combining marks after a letter gives the text's last letter too.
  std::string hebrew;
  ASSERT_TRUE(appendFromCodePage(hebrew, 1255, "\xE0\xF9"));
  EXPECT_EQ(hebrew, "\u05D0\u05E9");
  std::string none;
  EXPECT_FALSE(appendFromCodePage(none, 64999, "\xA4\xA4"));
  EXPECT_EQ(none, "");
}

}  // namespace
}  // namespace jet::unicode
