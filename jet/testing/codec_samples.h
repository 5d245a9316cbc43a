// Sample databases for the page-codec tests: where they are and their raw bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "jet/format/format.h"

namespace jet::testing {

// The folder named by JET_SAMPLES, or empty when it is not set or does not exist.
std::filesystem::path samplesDir();

struct SampleFile {
  std::string name;  // e.g. "jet4/testV2000.mdb"
  std::vector<uint8_t> bytes;
  const Format* format = nullptr;
  uint32_t pageCount() const { return static_cast<uint32_t>(bytes.size() / format->pageSize); }
  std::span<const uint8_t> page(uint32_t n) const {
    return std::span<const uint8_t>(bytes).subspan(size_t{n} * format->pageSize, format->pageSize);
  }
};

// Every .mdb under jet3/ and jet4/, sorted by name; the version comes from byte 0x14 of the header.
std::vector<SampleFile> loadSamples();

}  // namespace jet::testing
