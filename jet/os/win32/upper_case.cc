// Upper-casing on Windows: the system's own mapping for the invariant locale, the one its file names are compared
// with, so that names map the same way for every user whatever the user's language.

#include <windows.h>

#include "jet/os/unicode.h"

namespace jet::unicode {

std::u16string upperCase(std::u16string_view text) {
  std::u16string out(text);
  if (out.empty()) return out;
  const std::wstring in(text.begin(), text.end());
  std::wstring mapped(in.size(), L'\0');
  const int length = static_cast<int>(in.size());
  // A simple case mapping keeps one unit per unit, so positions stay where they were.
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, in.data(), length, mapped.data(), length) != length) {
    return out;
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] >= 0xD800 && out[i] <= 0xDFFF) continue;  // surrogates stay as they are
    out[i] = static_cast<char16_t>(mapped[i]);
  }
  return out;
}

}  // namespace jet::unicode
