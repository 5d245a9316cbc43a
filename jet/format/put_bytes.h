// Little-endian stores for everything that writes pages: the page codecs, the compactor and the generator (the
// reading side has its own checked loads in jet/format/bytes.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace jet {

inline void putLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putLe64(uint8_t* p, uint64_t v) {
  for (size_t i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putDouble(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  putLe64(p, bits);
}

inline void appendLe16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void appendLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace jet
