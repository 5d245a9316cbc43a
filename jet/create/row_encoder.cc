#include "jet/create/row_encoder.h"

#include <cstring>
#include <string>

#include "jet/format/put_bytes.h"
#include "jet/errors.h"
#include "jet/os/unicode.h"

namespace jet::create {

std::vector<uint8_t> encodeRow(const TableSchema& schema, const TableLayout& layout,
                               std::span<const FieldValue> fields) {
  const size_t columnCount = schema.columns.size();
  if (fields.size() != columnCount) {
    fail(ErrorCode::InvalidArgument, "table " + schema.name + ": a row needs one field per column");
  }
  std::vector<uint8_t> row(2 + layout.fixedAreaSize, 0);
  putLe16(row.data(), static_cast<uint32_t>(columnCount));
  std::vector<uint16_t> varStarts(layout.varColumnCount, 0);
  std::vector<uint8_t> mask((columnCount + 7) / 8, 0);

  // Variable data in slot order, which is column order here.
  for (size_t i = 0; i < columnCount; ++i) {
    const ColumnSpec& c = schema.columns[i];
    const ColumnPlace& p = layout.places[i];
    const FieldValue& v = fields[i];
    if (v.present) mask[i / 8] = static_cast<uint8_t>(mask[i / 8] | (1u << (i % 8)));
    if (p.fixed) {
      if (!v.present || c.type == ColumnType::Boolean) continue;
      if (v.bytes.size() != p.size) {
        fail(ErrorCode::InvalidArgument, "column " + c.name + " needs " + std::to_string(p.size) + " bytes");
      }
      std::memcpy(row.data() + 2 + p.fixedOffset, v.bytes.data(), p.size);
    } else {
      varStarts[p.varIndex] = static_cast<uint16_t>(row.size());
      if (!v.present) continue;
      if (!isLongValueType(c.type) && v.bytes.size() > c.length) {
        fail(ErrorCode::InvalidArgument,
             "a value of " + std::to_string(v.bytes.size()) + " bytes is too long for column " + c.name);
      }
      row.insert(row.end(), v.bytes.begin(), v.bytes.end());
    }
  }
  if (layout.varColumnCount > 0) {
    const auto end = static_cast<uint32_t>(row.size());
    appendLe16(row, end);
    for (size_t k = layout.varColumnCount; k-- > 0;) appendLe16(row, varStarts[k]);
    appendLe16(row, layout.varColumnCount);
  }
  row.insert(row.end(), mask.begin(), mask.end());
  return row;
}

std::vector<uint8_t> encodeText(std::u16string_view text, bool compressible) {
  std::vector<uint8_t> out;
  bool oneByte = compressible && text.size() > 2;
  for (char16_t c : text) {
    if (c == 0 || c > 0xFF) oneByte = false;
  }
  if (oneByte) {
    out.reserve(2 + text.size());
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (char16_t c : text) out.push_back(static_cast<uint8_t>(c));
  } else {
    out.reserve(2 * text.size());
    for (char16_t c : text) appendLe16(out, c);
  }
  return out;
}

std::u16string utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t code = 0;
    const size_t length = unicode::decodeUtf8(s, i, code);
    // Text written into a database is the caller's: guessing at bytes that are not UTF-8 would store other text.
    if (length == 0) {
      fail(ErrorCode::InvalidArgument, "the text has bytes that are not UTF-8 at byte " + std::to_string(i));
    }
    unicode::appendUtf16(out, code);
    i += length;
  }
  return out;
}

namespace {
FieldValue fixedBytes(const void* p, size_t n) {
  FieldValue v;
  v.present = true;
  v.bytes.resize(n);
  std::memcpy(v.bytes.data(), p, n);  // the machine is little-endian, as the file format
  return v;
}
}  // namespace

FieldValue textField(std::u16string_view text, bool compressible) {
  FieldValue v;
  v.present = true;
  v.bytes = encodeText(text, compressible);
  return v;
}
FieldValue byteField(uint8_t x) { return fixedBytes(&x, 1); }
FieldValue integerField(int16_t x) { return fixedBytes(&x, 2); }
FieldValue longField(int32_t x) { return fixedBytes(&x, 4); }
FieldValue currencyField(int64_t x) { return fixedBytes(&x, 8); }
FieldValue singleField(float x) { return fixedBytes(&x, 4); }
FieldValue doubleField(double x) { return fixedBytes(&x, 8); }
FieldValue dateField(double days) { return fixedBytes(&days, 8); }
FieldValue booleanField(bool x) {
  FieldValue v;
  v.present = x;
  return v;
}
FieldValue guidField(const uint8_t (&bytes)[16]) { return fixedBytes(bytes, 16); }
FieldValue numericField(bool negative, uint64_t magnitude) {
  FieldValue v;
  v.present = true;
  v.bytes.assign(17, 0);
  v.bytes[0] = negative ? 0x80 : 0x00;
  // The 16-byte magnitude is stored as four little-endian 32-bit words, most significant word first.
  putLe32(&v.bytes[1 + 8], static_cast<uint32_t>(magnitude >> 32));
  putLe32(&v.bytes[1 + 12], static_cast<uint32_t>(magnitude));
  return v;
}
FieldValue bytesField(std::vector<uint8_t> bytes) {
  FieldValue v;
  v.present = true;
  v.bytes = std::move(bytes);
  return v;
}

}  // namespace jet::create
