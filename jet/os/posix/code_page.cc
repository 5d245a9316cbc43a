// Text in the code pages the engine has no table of, on POSIX systems: the C library's iconv, which knows the Windows
// code pages by their numbers ("CP936"). A converter is opened once per thread and code page: opening one loads the
// system's module for it, and a converter keeps state, so threads may not share one.

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <map>

#include "jet/os/unicode.h"

namespace jet::unicode {
namespace {

class Converters {
 public:
  Converters() = default;
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;
  ~Converters() {
    for (auto& [codePage, cd] : open_) {
      if (cd != invalid()) iconv_close(cd);
    }
  }
  // The converter from the code page to UTF-8, or invalid() where the system has none (remembered as well).
  iconv_t from(unsigned codePage) {
    auto [it, added] = open_.try_emplace(codePage, invalid());
    if (added) {
      char name[16];
      std::snprintf(name, sizeof name, "CP%u", codePage);
      it->second = iconv_open("UTF-8", name);
    }
    return it->second;
  }
  static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

 private:
  std::map<unsigned, iconv_t> open_;
};

}  // namespace

bool appendFromCodePage(std::string& out, unsigned codePage, std::string_view bytes) {
  thread_local Converters converters;
  const iconv_t cd = converters.from(codePage);
  if (cd == Converters::invalid()) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a fresh start: no shift state left from the text before
  const std::size_t start = out.size();
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  // Three bytes of UTF-8 at most for each byte of a code page of up to two bytes a character; a character of a
  // code page of more bytes may need more, which the loop grows the room for.
  std::size_t room = 3 * inLeft + 4;
  std::size_t used = start;
  while (inLeft > 0) {
    out.resize(used + room);
    char* to = out.data() + used;
    std::size_t toLeft = room;
    const std::size_t result = iconv(cd, &in, &inLeft, &to, &toLeft);
    used = static_cast<std::size_t>(to - out.data());
    if (result != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      room = 3 * inLeft + 16;
      continue;
    }
    // A byte the code page does not define (EILSEQ), or a lead byte the text ends on (EINVAL). A lead byte and the
    // byte after it are one character whatever that byte is, as Windows reads them; any other byte stands alone.
    out.resize(used);
    appendUtf8(out, 0xFFFD);
    used = out.size();
    const auto lead = static_cast<unsigned char>(*in);
    const std::size_t skip = (lead >= 0x81 && lead <= 0xFE && inLeft >= 2) ? 2 : 1;
    in += skip;
    inLeft -= skip;
    room = 3 * inLeft + 4;
  }
  // A converter that combines characters may still hold the last one: it is written out now.
  out.resize(used + 16);
  char* to = out.data() + used;
  std::size_t toLeft = 16;
  if (iconv(cd, nullptr, nullptr, &to, &toLeft) != static_cast<std::size_t>(-1)) {
    used = static_cast<std::size_t>(to - out.data());
  }
  out.resize(used);
  return true;
}

}  // namespace jet::unicode
