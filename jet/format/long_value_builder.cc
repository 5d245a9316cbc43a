#include "jet/format/long_value_builder.h"

#include <algorithm>
#include <string>

#include "jet/errors.h"
#include "jet/format/put_bytes.h"

namespace jet {
namespace {

constexpr size_t kPointerSize = 4;

}  // namespace

std::vector<uint8_t> encodeLongValueDefinition(LongValueKind kind, uint32_t length, RowPointer first) {
  if (length > kLongValueLengthMask) {
    fail(ErrorCode::InvalidArgument, "a long value of " + std::to_string(length) + " bytes is too large");
  }
  std::vector<uint8_t> def(kLongValueDefinitionSize, 0);
  putLe32(def.data(), length | (static_cast<uint32_t>(kind) << 24));
  putLe32(def.data() + 4, kind == LongValueKind::Inline ? 0 : first.raw());
  return def;
}

uint32_t maxInlineLongValue(const Format& format) { return format.version == Version::Jet3 ? 32 : 64; }
uint32_t maxSingleRowLongValue(const Format& format) { return format.version == Version::Jet3 ? 2032 : 4076; }
uint32_t longValueChainChunk(const Format& format) { return format.version == Version::Jet3 ? 2032 : 4072; }

LongValueWriter::LongValueWriter(const Format& format, std::function<uint32_t()> allocatePage)
    : format_(format), allocatePage_(std::move(allocatePage)), builder_(format, kLongValueOwner) {}

RowPlacement LongValueWriter::place(Bytes row) {
  RowPlacement at = builder_.add(row);
  while (numbers_.size() <= at.pageIndex) numbers_.push_back(allocatePage_());
  return at;
}

RowPointer LongValueWriter::pointerTo(RowPlacement at) const { return {numbers_[at.pageIndex], at.row}; }

std::vector<uint8_t> LongValueWriter::add(Bytes value, size_t rowSpace) {
  if (value.size() > kLongValueLengthMask) {
    fail(ErrorCode::InvalidArgument, "a long value of " + std::to_string(value.size()) + " bytes is too large");
  }
  const uint32_t length = static_cast<uint32_t>(value.size());
  if (length == 0 || (length <= maxInlineLongValue(format_) && kLongValueDefinitionSize + length <= rowSpace)) {
    std::vector<uint8_t> field = encodeLongValueDefinition(LongValueKind::Inline, length, {});
    field.insert(field.end(), value.begin(), value.end());
    return field;
  }
  if (length <= maxSingleRowLongValue(format_)) {
    return encodeLongValueDefinition(LongValueKind::SingleRow, length, pointerTo(place(value)));
  }
  // A chain: each row but the last carries a full chunk; a row's pointer is patched once the next row is placed.
  const size_t chunk = longValueChainChunk(format_);
  RowPlacement first{};
  RowPlacement previous{};
  for (size_t offset = 0; offset < value.size(); offset += chunk) {
    size_t n = std::min(chunk, value.size() - offset);
    // The row (a link, patched once the next row is placed, then the chunk) is laid out in a buffer kept from row to
    // row: a fresh one each time cost an allocation and the zeroing of a page's worth of bytes.
    std::vector<uint8_t>& row = chainRow_;
    row.assign(kPointerSize, 0);
    row.insert(row.end(), value.begin() + static_cast<std::ptrdiff_t>(offset),
               value.begin() + static_cast<std::ptrdiff_t>(offset + n));
    RowPlacement at = place(row);
    if (offset == 0) {
      first = at;
    } else {
      uint8_t pointer[kPointerSize];
      putLe32(pointer, pointerTo(at).raw());
      builder_.patch(previous, 0, Bytes(pointer, kPointerSize));
    }
    previous = at;
  }
  return encodeLongValueDefinition(LongValueKind::Chain, length, pointerTo(first));
}

std::vector<std::pair<uint32_t, std::vector<uint8_t>>> LongValueWriter::number(
    std::vector<std::vector<uint8_t>> pages) {
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> out;
  for (std::vector<uint8_t>& page : pages) out.emplace_back(numbers_[taken_++], std::move(page));
  return out;
}

std::vector<std::pair<uint32_t, std::vector<uint8_t>>> LongValueWriter::takeFinishedPages() {
  return number(builder_.takeFinishedPages());
}

std::vector<std::pair<uint32_t, std::vector<uint8_t>>> LongValueWriter::takePages() {
  return number(builder_.takePages());
}

}  // namespace jet
