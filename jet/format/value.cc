#include "jet/format/value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "jet/format/long_value.h"
#include "jet/format/text.h"

namespace jet {

namespace {

// Decodes a value; `longValue(data, store)` gives the bytes of a Memo or OLE value from the field's bytes (its
// long-value definition), reading them into `store` when it has to.
template <class LongValue>
void decodeWith(const PageReader& pages, const ColumnDef& c, Bytes row, const FieldLocation& fl, Value& v,
                LongValue&& longValue) {
  v.type = c.type;
  v.text.clear();
  v.bytes.clear();
  if (c.type == ColumnType::Boolean) {
    v.null = false;
    v.boolean = fl.present;
    return;
  }
  v.null = !fl.present;
  if (v.null) return;
  Bytes data = slice(row, fl.offset, fl.length, "a column value");
  const bool jet3 = pages.format().version == Version::Jet3;
  auto need = [&](size_t n) {
    if (data.size() < n) corrupt("a value of column " + c.name + " is too short");
  };
  switch (c.type) {
    case ColumnType::Boolean: break;
    case ColumnType::Byte:
      need(1);
      v.integer = data[0];
      break;
    case ColumnType::Integer:
      need(2);
      v.integer = static_cast<int16_t>(le16(data.data()));
      break;
    case ColumnType::Long:
      need(4);
      v.integer = static_cast<int32_t>(le32(data.data()));
      break;
    case ColumnType::Currency:
      need(8);
      v.integer = static_cast<int64_t>(le64(data.data()));
      break;
    case ColumnType::Single:
      need(4);
      v.real = f32(data, 0);
      break;
    case ColumnType::Double:
    case ColumnType::DateTime:
      need(8);
      v.real = f64(data, 0);
      break;
    case ColumnType::Guid:
      need(16);
      v.bytes.assign(data.begin(), data.begin() + 16);
      break;
    case ColumnType::Numeric:
      need(17);
      v.negative = (data[0] & 0x80) != 0;
      v.scale = c.scale;
      v.bytes.assign(data.begin() + 1, data.begin() + 17);
      break;
    case ColumnType::Binary: v.bytes.assign(data.begin(), data.end()); break;
    case ColumnType::Text:
      if (jet3) {
        v.text = decodeCodePage(data, c.codePage != 0 ? c.codePage : pages.header().codePage);
      } else {
        appendJet4Text(v.text, data);
      }
      break;
    case ColumnType::Memo:
    case ColumnType::Ole: {
      const Bytes bytes = longValue(data, v.bytes);
      if (c.type == ColumnType::Memo) {
        if (jet3) {
          v.text = decodeCodePage(bytes, c.codePage != 0 ? c.codePage : pages.header().codePage);
        } else {
          appendJet4Text(v.text, bytes);
        }
        v.bytes.clear();
      } else if (bytes.data() != v.bytes.data()) {
        v.bytes.assign(bytes.begin(), bytes.end());
      }
      break;
    }
    default:
      // Types this engine does not know are kept as their bytes.
      v.bytes.assign(data.begin(), data.end());
      break;
  }
}

}  // namespace

void decodeValue(PageReader& pages, const ColumnDef& c, Bytes row, const FieldLocation& fl, Value& v) {
  decodeWith(pages, c, row, fl, v, [&pages](Bytes data, std::vector<uint8_t>& store) {
    readLongValue(pages, parseLongValueRef(data), store);
    return Bytes(store);
  });
}

void decodeValue(const PageReader& pages, const ColumnDef& c, Bytes row, const FieldLocation& fl, Bytes longValue,
                 Value& v) {
  decodeWith(pages, c, row, fl, v, [longValue](Bytes, std::vector<uint8_t>&) { return longValue; });
}

namespace {

// Values are formatted once per field of a dump, so without printf's parsing of its format string.
void putTwoDigits(char* at, int v) {
  at[0] = static_cast<char>('0' + v / 10 % 10);
  at[1] = static_cast<char>('0' + v % 10);
}

// printf's "%02d" for a value that may need more digits or be negative.
void appendTwoDigits(std::string& out, int64_t v) {
  if (v >= 0 && v < 100) {
    char b[2];
    putTwoDigits(b, static_cast<int>(v));
    out.append(b, 2);
    return;
  }
  char b[24];  // wider values, and negative ones ("-5" is two wide already), as they are
  out.append(b, std::to_chars(b, b + sizeof b, v).ptr);
}

std::string formatGeneral(double value, int precision) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string formatCurrency(int64_t v) {
  bool neg = v < 0;
  uint64_t mag = neg ? (~static_cast<uint64_t>(v) + 1) : static_cast<uint64_t>(v);
  char buf[40];
  char* at = buf;
  if (neg) *at++ = '-';
  at = std::to_chars(at, buf + sizeof buf, mag / 10000).ptr;
  const auto cents = static_cast<int>(mag % 10000);
  *at++ = '.';
  putTwoDigits(at, cents / 100);
  putTwoDigits(at + 2, cents % 100);
  return std::string(buf, at + 4);
}

std::string formatNumeric(bool negative, const uint8_t* m, uint8_t scale) {
  // The magnitude is four little-endian 32-bit words, most significant word first.
  uint32_t words[4];
  for (int k = 0; k < 4; ++k) words[k] = le32(m + 4 * k);
  std::string digits;
  bool zero = false;
  if (words[0] == 0 && words[1] == 0) {
    // Nearly every value fits in 64 bits: its digits come from one conversion, not a long division per digit.
    char buf[24];
    const uint64_t low = (uint64_t{words[2]} << 32) | words[3];
    const char* end = std::to_chars(buf, buf + sizeof buf, low).ptr;
    digits.assign(std::make_reverse_iterator(end), std::make_reverse_iterator(static_cast<const char*>(buf)));
    zero = true;
  }
  while (!zero) {
    uint64_t rem = 0;
    zero = true;
    for (uint32_t& w : words) {
      uint64_t cur = (rem << 32) | w;
      w = static_cast<uint32_t>(cur / 10);
      rem = cur % 10;
      if (w != 0) zero = false;
    }
    digits.push_back(static_cast<char>('0' + rem));
  }
  while (digits.size() <= scale) digits.push_back('0');
  std::string out = negative ? "-" : "";
  for (size_t k = digits.size(); k > 0; --k) {
    if (k == scale) out.push_back('.');
    out.push_back(digits[k - 1]);
  }
  return out;
}

void appendGuid(std::string& out, const uint8_t* g, bool lastGroupsJoined) {
  // The first three groups are little-endian numbers, the last two bytes as stored. Written by hand: a dump formats
  // one for every row of a table with a GUID column.
  static constexpr uint8_t kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static constexpr char kHex[] = "0123456789ABCDEF";
  char text[38];
  char* at = text;
  *at++ = '{';
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || (i == 10 && !lastGroupsJoined)) *at++ = '-';
    *at++ = kHex[g[kOrder[i]] >> 4];
    *at++ = kHex[g[kOrder[i]] & 0x0F];
  }
  *at++ = '}';
  out.append(text, at);
}

std::string formatGuid(const uint8_t* g, bool lastGroupsJoined) {
  std::string text;
  appendGuid(text, g, lastGroupsJoined);
  return text;
}

CivilDateTime toCivil(double days) {
  CivilDateTime t;
  if (!std::isfinite(days) || std::fabs(days) > 3e6) return t;
  double whole = std::trunc(days);
  double frac = std::fabs(days - whole);
  auto seconds = static_cast<int64_t>(frac * 86400.0 + 0.5);
  auto d = static_cast<int64_t>(whole);
  if (seconds >= 86400) {  // rounding reached midnight of the next day
    seconds -= 86400;
    d += days < 0 ? -1 : 1;
  }
  t.hour = static_cast<int>(seconds / 3600);
  t.minute = static_cast<int>(seconds / 60 % 60);
  t.second = static_cast<int>(seconds % 60);
  // Day 0 is 1899-12-30; shift to days since 0000-03-01 and split into 400-year eras.
  int64_t z = d + 693899;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = yoe + era * 400 + (t.month <= 2 ? 1 : 0);
  return t;
}

std::string formatDateTime(double days) { return formatDateTime(toCivil(days)); }

std::string formatDateTime(const CivilDateTime& t) {
  std::string out;
  out.reserve(17);
  appendDateTime(out, t);
  return out;
}

void appendDateTime(std::string& out, double days) { appendDateTime(out, toCivil(days)); }

void appendDateTime(std::string& out, const CivilDateTime& t) {
  // "MM/DD/YY HH:MM:SS" with one append: a log prints one for every row.
  const int64_t parts[6] = {t.month, t.day, ((t.year % 100) + 100) % 100, t.hour, t.minute, t.second};
  if (std::all_of(parts, parts + 6, [](int64_t v) { return v >= 0 && v < 100; })) {
    static constexpr char kAfter[5] = {'/', '/', ' ', ':', ':'};
    char b[17];
    for (size_t i = 0; i < 6; ++i) {
      putTwoDigits(b + 3 * i, static_cast<int>(parts[i]));
      if (i < 5) b[3 * i + 2] = kAfter[i];
    }
    out.append(b, sizeof b);
    return;
  }
  appendTwoDigits(out, t.month);
  out.push_back('/');
  appendTwoDigits(out, t.day);
  out.push_back('/');
  appendTwoDigits(out, ((t.year % 100) + 100) % 100);
  out.push_back(' ');
  appendTwoDigits(out, t.hour);
  out.push_back(':');
  appendTwoDigits(out, t.minute);
  out.push_back(':');
  appendTwoDigits(out, t.second);
}

// std::to_chars with a precision formats as printf does ("%.8g", "%.16g").
std::string formatSingle(float value) { return formatGeneral(static_cast<double>(value), 8); }

std::string formatDouble(double value) { return formatGeneral(value, 16); }

}  // namespace jet
