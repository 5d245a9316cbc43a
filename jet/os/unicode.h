// The engine's one home for UTF-8 and UTF-16: the names of files as the system spells them (UTF-8 here) and as
// UTF-16, the text of a database decoded into UTF-8, and the system's mapping to upper case, by which names that
// differ only in case are the same name. It lives in the lowest layer because the door to the system needs it for
// names, and every layer above (the format's text, the writer of new databases, the utility's platform) may depend on
// that layer but not the other way round.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace jet::unicode {

// Appends the UTF-8 form of a code point (at most U+10FFFF). A lone surrogate has no UTF-8 form and becomes U+FFFD.
inline void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
    return;
  }
  if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
  char b[4];
  std::size_t n;
  if (code < 0x800) {
    b[0] = static_cast<char>(0xC0 | (code >> 6));
    b[1] = static_cast<char>(0x80 | (code & 0x3F));
    n = 2;
  } else if (code < 0x10000) {
    b[0] = static_cast<char>(0xE0 | (code >> 12));
    b[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    b[2] = static_cast<char>(0x80 | (code & 0x3F));
    n = 3;
  } else {
    b[0] = static_cast<char>(0xF0 | (code >> 18));
    b[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    b[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    b[3] = static_cast<char>(0x80 | (code & 0x3F));
    n = 4;
  }
  out.append(b, n);
}

// Appends a code point (at most U+10FFFF) as one UTF-16 unit or a surrogate pair.
void appendUtf16(std::u16string& out, char32_t code);

// Decodes the one UTF-8 sequence at text[i] into `code` and returns its length; returns 0 when the bytes there are
// not a well-formed sequence (a stray continuation byte, a sequence cut short, an overlong form, an encoded surrogate,
// a code point past U+10FFFF).
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& code);

// UTF-8 <-> UTF-16. Bytes that are not valid UTF-8 (a file name on a POSIX system can hold any bytes) become the lone
// surrogates U+DC80..U+DCFF and turn back into the same bytes, so every name read from the system can be handed back
// to it. Other lone surrogates become U+FFFD.
std::u16string fromUtf8(std::string_view text);
std::string toUtf8(std::u16string_view text);

// How many bytes of `text`, at most `limit`, end on the boundary of a character, so that a name cut short there
// holds no part of a character.
std::size_t utf8Prefix(std::string_view text, std::size_t limit);

// Appends `bytes`, text in a Windows code page the engine has no table of (the East Asian ones of one or two bytes a
// character: 932, 936, 949, 950, and any other the system knows by number), as UTF-8, by the system's own converter.
// A byte or pair of bytes the code page does not define becomes one character that says so (U+FFFD here, the code
// page's default character on Windows), and the rest of the text is still decoded. Returns false, appending nothing,
// where the system has no converter for the code page. Implemented by each system's part of the engine.
bool appendFromCodePage(std::string& out, unsigned codePage, std::string_view bytes);

// The string in upper case, unit by unit (surrogates stay as they are), by the system's Unicode case mapping and the
// same for every user whatever their locale. Implemented by each system's part of the engine (jet/os/posix).
std::u16string upperCase(std::u16string_view text);

}  // namespace jet::unicode
