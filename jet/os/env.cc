#include "jet/os/env.h"

#include <cstring>

#include "jet/errors.h"

namespace jet {

std::string lockFileName(const std::string& path, bool upperCase) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? path.substr(0, dot) : path;
  return base + (upperCase ? ".LDB" : ".ldb");
}

void PageSource::readScattered(uint64_t offset, std::span<const std::span<uint8_t>> parts) {
  for (std::span<uint8_t> part : parts) {
    read(offset, part);
    offset += part.size();
  }
}

void MemorySource::read(uint64_t offset, std::span<uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
    fail(ErrorCode::DiskIoRead, name_ + ": read past the end of the data at offset " + std::to_string(offset));
  }
  std::memcpy(out.data(), bytes_.data() + offset, out.size());
}

}  // namespace jet
