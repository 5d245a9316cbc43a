#include "jet/format/text.h"

#include "jet/os/unicode.h"

namespace jet {

namespace {

using unicode::appendUtf8;

// Emits UTF-16 code units, pairing surrogates.
class Utf16Sink {
 public:
  explicit Utf16Sink(std::string& out) : out_(out) {}
  ~Utf16Sink() { flush(); }
  Utf16Sink(const Utf16Sink&) = delete;
  Utf16Sink& operator=(const Utf16Sink&) = delete;

  void put(uint16_t unit) {
    if (high_ != 0) {
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        appendUtf8(out_, 0x10000u + ((static_cast<uint32_t>(high_) - 0xD800u) << 10) + (unit - 0xDC00u));
        high_ = 0;
        return;
      }
      flush();
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      high_ = unit;
      return;
    }
    appendUtf8(out_, unit);
  }
  // Units below 0x80 are their own UTF-8: a run of them is appended at once.
  void putAscii(const uint8_t* units, size_t count) {
    flush();
    out_.append(reinterpret_cast<const char*>(units), count);
  }
  // `count` little-endian units. Runs of ASCII, most of any text, are appended at once.
  void putUnits(const uint8_t* units, size_t count) {
    size_t i = 0;
    while (i < count) {
      if (high_ == 0) {
        size_t end = i;
        while (end < count && units[2 * end + 1] == 0 && units[2 * end] < 0x80) ++end;
        if (end > i) {
          const size_t at = out_.size();
          out_.resize(at + (end - i));
          char* to = out_.data() + at;
          for (size_t k = i; k < end; ++k) *to++ = static_cast<char>(units[2 * k]);
          i = end;
          continue;
        }
      }
      put(static_cast<uint16_t>(units[2 * i] | (units[2 * i + 1] << 8)));
      ++i;
    }
  }
  void flush() {
    if (high_ != 0) appendUtf8(out_, high_);
    high_ = 0;
  }

 private:
  std::string& out_;
  uint16_t high_ = 0;
};

}  // namespace

std::string decodeUcs2(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  Utf16Sink sink(out);
  sink.putUnits(bytes.data(), bytes.size() / 2);
  sink.flush();
  return out;
}

void appendJet4Text(std::string& out, std::span<const uint8_t> bytes) {
  Utf16Sink sink(out);
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    bool compressed = true;
    size_t k = 2;
    while (k < bytes.size()) {
      if (bytes[k] == 0) {
        compressed = !compressed;
        ++k;
      } else if (compressed) {
        size_t end = k;
        while (end < bytes.size() && bytes[end] != 0 && bytes[end] < 0x80) ++end;
        if (end > k) {
          sink.putAscii(bytes.data() + k, end - k);
          k = end;
        } else {
          sink.put(bytes[k]);
          ++k;
        }
      } else if (k + 1 < bytes.size()) {
        sink.put(static_cast<uint16_t>(bytes[k] | (bytes[k + 1] << 8)));
        k += 2;
      } else {
        break;
      }
    }
  } else {
    sink.putUnits(bytes.data(), bytes.size() / 2);
  }
  sink.flush();
}

std::string decodeJet4Text(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  appendJet4Text(out, bytes);
  return out;
}

std::string decodeCodePage(std::span<const uint8_t> bytes, uint16_t codePage) {
  const char16_t* high = codePageHighHalf(codePage);
  if (high == nullptr) high = codePageHighHalf(1252);
  std::string out;
  out.reserve(bytes.size());
  for (size_t k = 0; k < bytes.size();) {
    size_t end = k;
    while (end < bytes.size() && bytes[end] < 0x80) ++end;
    out.append(reinterpret_cast<const char*>(bytes.data() + k), end - k);
    if (end == bytes.size()) break;
    unicode::appendUtf8(out, high[bytes[end] - 0x80]);
    k = end + 1;
  }
  return out;
}

}  // namespace jet
