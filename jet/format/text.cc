#include "jet/format/text.h"

#include <algorithm>
#include <bit>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "jet/format/bytes.h"
#include "jet/os/unicode.h"

namespace jet {

namespace {

using unicode::appendUtf8;

// Emits UTF-16 code units, pairing surrogates.
uint16_t unitAt(const uint8_t* units, size_t i) {
  return static_cast<uint16_t>(units[2 * i] | (units[2 * i + 1] << 8));
}

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
  // `count` little-endian units. Runs without surrogates, nearly all text, are encoded straight into the string;
  // a surrogate goes through put(), which pairs it.
  void putUnits(const uint8_t* units, size_t count) {
    size_t i = 0;
    while (i < count) {
      if (high_ != 0) {
        put(unitAt(units, i++));
        continue;
      }
      const size_t at = out_.size();
      out_.resize(at + 3 * (count - i));  // three bytes at most for a unit outside the surrogates
      char* const start = out_.data();
      char* to = start + at;
      for (; i < count; ++i) {
#if defined(__SSE2__)
        // Sixteen units at a time: the run of units below 0x80 that starts the block is stored at once (packing with
        // unsigned saturation keeps their low bytes; whatever is packed after the run is overwritten), and the unit
        // that ends the run is encoded below. Prose with a letter outside ASCII every few words thus moves a word at a
        // time instead of a unit at a time.
        while (i + 16 <= count) {
          const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * i));
          const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * i + 16));
          const __m128i highBits = _mm_set1_epi16(static_cast<short>(0xFF80));
          const __m128i asciiA = _mm_cmpeq_epi16(_mm_and_si128(a, highBits), _mm_setzero_si128());
          const __m128i asciiB = _mm_cmpeq_epi16(_mm_and_si128(b, highBits), _mm_setzero_si128());
          const unsigned ascii = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(asciiA, asciiB)));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_packus_epi16(a, b));
          if (ascii == 0xFFFF) {
            to += 16;
            i += 16;
            continue;
          }
          const unsigned run = static_cast<unsigned>(std::countr_one(ascii));
          to += run;
          i += run;
          // Then the run of units of two UTF-8 bytes (0x80-0x7FF: accented Latin, Greek, Cyrillic, Hebrew, Arabic)
          // that follows, eight at a time: each such unit's two bytes are a fixed function of the unit, so they are
          // computed in its own lane and stored as they lie. Lanes after the run are overwritten later. A lone such
          // letter between ASCII ones (Slovene, French) is cheaper encoded below.
          auto twoBytes = [&](size_t k) { return k < count && unitAt(units, k) >= 0x80 && unitAt(units, k) < 0x800; };
          if (!twoBytes(i) || !twoBytes(i + 1)) break;
          size_t twoByteUnits = 0;
          while (i + 8 <= count) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * i));
            const __m128i below800 =
                _mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(static_cast<short>(0xF800))), _mm_setzero_si128());
            const __m128i below80 = _mm_cmpeq_epi16(_mm_and_si128(u, highBits), _mm_setzero_si128());
            const __m128i two = _mm_andnot_si128(below80, below800);
            const unsigned lanes =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(two, _mm_setzero_si128()))) & 0xFFu;
            const unsigned n = static_cast<unsigned>(std::countr_one(lanes));
            if (n == 0) break;
            const __m128i lead = _mm_or_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0xC0));
            const __m128i trail = _mm_or_si128(_mm_and_si128(u, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_or_si128(lead, _mm_slli_epi16(trail, 8)));
            to += 2 * n;
            i += n;
            twoByteUnits += n;
            if (n < 8) break;
          }
          if (twoByteUnits == 0) break;  // a unit of three bytes or a surrogate: encoded below
        }
#endif
        // Four units at a time while each is below 0x80.
        while (i + 4 <= count && (le64(units + 2 * i) & 0xFF80FF80FF80FF80ull) == 0) {
          for (size_t k = 0; k < 4; ++k) *to++ = static_cast<char>(units[2 * (i + k)]);
          i += 4;
        }
        if (i == count) break;
        const uint16_t u = unitAt(units, i);
        if (u < 0x80) {
          *to++ = static_cast<char>(u);
        } else if (u < 0x800) {
          *to++ = static_cast<char>(0xC0 | (u >> 6));
          *to++ = static_cast<char>(0x80 | (u & 0x3F));
        } else if (u >= 0xD800 && u <= 0xDFFF) {
          break;
        } else {
          *to++ = static_cast<char>(0xE0 | (u >> 12));
          *to++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
          *to++ = static_cast<char>(0x80 | (u & 0x3F));
        }
      }
      out_.resize(static_cast<size_t>(to - start));
      if (i < count) put(unitAt(units, i++));
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
        // Eight bytes at a time while none is zero (the switch back) or 0x80 and above.
        while (end + 8 <= bytes.size()) {
          const uint64_t w = le64(bytes.data() + end);
          const uint64_t zeroOrHigh = ((w - 0x0101010101010101ull) & ~w) | w;
          if ((zeroOrHigh & 0x8080808080808080ull) != 0) break;
          end += 8;
        }
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
  std::string out;
  const char16_t* high = codePageHighHalf(codePage);
  if (high == nullptr) {
    // A code page of two bytes a character goes to the system's converter, unless the text is ASCII, which every
    // code page keeps as it is. A code page no converter knows (or none named) reads as 1252, so that every byte
    // still decodes to a character of its own and names stay distinct.
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b < 0x80; });
    if (!ascii && codePage != 0 &&
        unicode::appendFromCodePage(out, codePage,
                                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
      return out;
    }
    high = codePageHighHalf(1252);
  }
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
