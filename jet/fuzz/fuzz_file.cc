#include "jet/fuzz/fuzz_file.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <span>

#include "jet/pager/header.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

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

size_t mutateWithinPages(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  std::minstd_rand rng(seed);
  const size_t pageSize = size > 0x14 && data[0x14] != 0 ? 4096 : 2048;
  if (size < 4 * pageSize || rng() % 4 == 0) return LLVMFuzzerMutate(data, size, maxSize);
  const size_t page = 1 + rng() % (size / pageSize - 1);
  const size_t window = std::min<size_t>(pageSize, 1 + rng() % 96);
  const size_t start = page * pageSize + rng() % (pageSize - window + 1);
  std::vector<uint8_t> bytes(data + start, data + start + window);
  size_t n = LLVMFuzzerMutate(bytes.data(), window, window);
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), data + start);
  return size;
}

}  // namespace jet::fuzzing
