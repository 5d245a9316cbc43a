#include "jet/fuzz/fuzz_file.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "jet/pager/header.h"

namespace jet::fuzzing {

const Format& formatOf(const uint8_t* data, size_t size) {
  return formatFor(size > 0 && (data[0] & 1) ? Version::Jet4 : Version::Jet3);
}

std::vector<uint8_t> fileFromInput(const Format& f, const uint8_t* data, size_t size, uint32_t pages) {
  std::vector<uint8_t> file(size_t{f.pageSize} * (pages + 1), 0);
  file[1] = 1;
  std::memcpy(file.data() + 4, "Standard Jet DB", 15);
  file[0x14] = f.version == Version::Jet3 ? 0 : 1;
  // Masking zeros gives the stored form of an all-zero masked area: no encoding key, no password.
  unmaskHeader(std::span<uint8_t>(file.data(), f.pageSize), f);
  if (size > 1)
    std::copy(data + 1, data + std::min<size_t>(size, 1 + size_t{f.pageSize} * pages), file.begin() + f.pageSize);
  return file;
}

}  // namespace jet::fuzzing
