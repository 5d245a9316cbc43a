// Upper-casing on POSIX systems: the C library's Unicode case mapping of the C.UTF-8 locale,
// whatever locale the process runs in, so that names map the same way for every user.

#include <clocale>
#include <cwctype>
#include <locale.h>

#include "jet/os/unicode.h"

namespace jet::unicode {
namespace {

locale_t unicodeLocale() {
  static const locale_t locale = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      if (locale_t found = newlocale(LC_CTYPE_MASK, name, locale_t{})) return found;
    }
    return locale_t{};
  }();
  return locale;
}

// Used only where no Unicode locale is installed: Latin-1 and Latin Extended-A, the letters
// of the names this utility meets (č, š, ž among them).
char16_t upperCaseLatin(char16_t unit) {
  if ((unit >= u'a' && unit <= u'z') || (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7))
    return static_cast<char16_t>(unit - 0x20);
  if (unit == 0xFF) return 0x178;
  if (unit == 0x131) return u'I';
  if (unit == 0x17F) return u'S';
  const bool pairedEvenOdd = (unit >= 0x100 && unit <= 0x137) || (unit >= 0x14A && unit <= 0x177);
  const bool pairedOddEven = (unit >= 0x139 && unit <= 0x148) || (unit >= 0x179 && unit <= 0x17E);
  if (pairedEvenOdd && unit % 2 == 1) return static_cast<char16_t>(unit - 1);
  if (pairedOddEven && unit % 2 == 0) return static_cast<char16_t>(unit - 1);
  return unit;
}

}  // namespace

std::u16string upperCase(std::u16string_view text) {
  const locale_t locale = unicodeLocale();
  std::u16string out(text);
  for (char16_t& unit : out) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    if (locale) {
      const wint_t upper = towupper_l(static_cast<wint_t>(unit), locale);
      // A unit keeps its place: a mapping that leaves the basic plane is not taken.
      if (upper <= 0xFFFF) unit = static_cast<char16_t>(upper);
    } else {
      unit = upperCaseLatin(unit);
    }
  }
  return out;
}

}  // namespace jet::unicode
