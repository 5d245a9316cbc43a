// Little-endian reads with bounds checks.
//
// Every offset and length in a database file comes from the file itself, so a damaged file can point anywhere.
// These helpers refuse to read outside the span they are given and report the damage as a numbered error instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "jet/errors.h"

namespace jet {

using Bytes = std::span<const uint8_t>;

[[noreturn]] inline void corrupt(const std::string& what) { fail(ErrorCode::Corrupt, what); }

inline bool fits(Bytes b, size_t offset, size_t length) { return offset <= b.size() && length <= b.size() - offset; }

// The failure of requireFits, kept out of line: the check runs for every field of every row, and with the message
// built in place it was too large to be inlined.
[[noreturn, gnu::cold, gnu::noinline]] inline void outsideItsRecord(Bytes b, size_t offset, size_t length,
                                                                    const char* what) {
  corrupt(std::string(what) + " lies outside its page or record (offset " + std::to_string(offset) + ", length " +
          std::to_string(length) + ", available " + std::to_string(b.size()) + ")");
}

inline void requireFits(Bytes b, size_t offset, size_t length, const char* what) {
  if (!fits(b, offset, length)) [[unlikely]]
    outsideItsRecord(b, offset, length, what);
}

// Unchecked reads, for callers that checked the range already.
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t le32(const uint8_t* p) { return le24(p) | (static_cast<uint32_t>(p[3]) << 24); }
inline uint64_t le64(const uint8_t* p) { return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32); }

// Checked reads.
inline uint8_t u8(Bytes b, size_t offset, const char* what = "a field") {
  requireFits(b, offset, 1, what);
  return b[offset];
}
inline uint16_t u16(Bytes b, size_t offset, const char* what = "a field") {
  requireFits(b, offset, 2, what);
  return le16(b.data() + offset);
}
inline uint32_t u24(Bytes b, size_t offset, const char* what = "a field") {
  requireFits(b, offset, 3, what);
  return le24(b.data() + offset);
}
inline uint32_t u32(Bytes b, size_t offset, const char* what = "a field") {
  requireFits(b, offset, 4, what);
  return le32(b.data() + offset);
}
inline uint64_t u64(Bytes b, size_t offset, const char* what = "a field") {
  requireFits(b, offset, 8, what);
  return le64(b.data() + offset);
}
inline double f64(Bytes b, size_t offset, const char* what = "a field") {
  uint64_t bits = u64(b, offset, what);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline float f32(Bytes b, size_t offset, const char* what = "a field") {
  uint32_t bits = u32(b, offset, what);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
inline Bytes slice(Bytes b, size_t offset, size_t length, const char* what = "a field") {
  requireFits(b, offset, length, what);
  return b.subspan(offset, length);
}

// A (row, page) pointer as stored in usage-map pointers, overflow slots and long-value chains:
// the low byte is the row number, the upper three bytes the page number.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
  static RowPointer fromRaw(uint32_t raw) { return {raw >> 8, static_cast<uint8_t>(raw & 0xFF)}; }
  uint32_t raw() const { return (page << 8) | row; }
  bool isNull() const { return page == 0 && row == 0; }
  friend bool operator==(const RowPointer&, const RowPointer&) = default;
};

}  // namespace jet
