// Text in the code pages the engine has no table of, on Windows: the system's own conversion, the one Access itself
// read the text with, including its default character for what a code page does not define.

#include <windows.h>

#include "jet/os/unicode.h"

namespace jet::unicode {

bool appendFromCodePage(std::string& out, unsigned codePage, std::string_view bytes) {
  if (bytes.empty()) return IsValidCodePage(codePage) != 0;
  const int length = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
  if (units <= 0) return false;  // a code page the system has no table of
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(codePage, 0, bytes.data(), length, wide.data(), units) != units) return false;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char32_t unit = static_cast<char16_t>(wide[i]);
    const char32_t next = i + 1 < wide.size() ? static_cast<char16_t>(wide[i + 1]) : 0;
    if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
      ++i;
    } else {
      appendUtf8(out, unit);  // a lone surrogate becomes U+FFFD
    }
  }
  return true;
}

}  // namespace jet::unicode
