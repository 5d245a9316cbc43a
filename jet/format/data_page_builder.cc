#include "jet/format/data_page_builder.h"

#include <algorithm>
#include <string>

#include "jet/errors.h"
#include "jet/format/put_bytes.h"

namespace jet {
namespace {

constexpr uint32_t kOffsetSize = 2;

}  // namespace

DataPageBuilder::DataPageBuilder(const Format& format, uint32_t owner) : format_(format), owner_(owner) {}

uint32_t DataPageBuilder::maxRowSize(const Format& format) {
  return format.pageSize - format.rowOffsetTable() - kOffsetSize;
}

uint16_t DataPageBuilder::freeSpace(const std::vector<uint8_t>& page) const {
  return le16(page.data() + format_.dataFreeSpaceOffset);
}

uint16_t DataPageBuilder::rowCount(const std::vector<uint8_t>& page) const {
  return le16(page.data() + format_.dataRowCountOffset);
}

void DataPageBuilder::startPage() {
  std::vector<uint8_t> page(format_.pageSize, 0);
  page[0] = static_cast<uint8_t>(PageType::Data);
  page[1] = 0x01;
  putLe16(page.data() + format_.dataFreeSpaceOffset, format_.pageSize - format_.rowOffsetTable());
  for (size_t i = 0; i < 4; ++i) page[format_.dataOwnerOffset + i] = static_cast<uint8_t>(owner_ >> (8 * i));
  pages_.push_back(std::move(page));
}

RowPlacement DataPageBuilder::peek(size_t rowSize) const {
  if (!pages_.empty()) {
    const std::vector<uint8_t>& page = pages_.back();
    uint16_t count = rowCount(page);
    if (count < format_.maxRowsPerPage() && rowSize + kOffsetSize <= freeSpace(page)) {
      return {pageCount() - 1, static_cast<uint8_t>(count)};
    }
  }
  return {pageCount(), 0};
}

RowPlacement DataPageBuilder::add(Bytes row) {
  if (row.empty() || row.size() > maxRowSize(format_)) {
    fail(ErrorCode::InvalidArgument, "a row of " + std::to_string(row.size()) + " bytes cannot be stored on a " +
                                         std::to_string(format_.pageSize) + "-byte data page");
  }
  RowPlacement at = peek(row.size());
  if (at.pageIndex == pageCount()) startPage();
  std::vector<uint8_t>& page = pages_.back();
  uint16_t count = rowCount(page);
  size_t end = count == 0 ? page.size() : le16(page.data() + format_.rowOffsetTable() + 2u * (count - 1u));
  size_t start = end - row.size();
  std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(start));
  putLe16(page.data() + format_.rowOffsetTable() + 2u * count, static_cast<uint32_t>(start));
  putLe16(page.data() + format_.dataRowCountOffset, count + 1u);
  putLe16(page.data() + format_.dataFreeSpaceOffset, freeSpace(page) - static_cast<uint32_t>(row.size() + kOffsetSize));
  return at;
}

void DataPageBuilder::patch(RowPlacement at, size_t offset, Bytes bytes) {
  if (at.pageIndex < taken_ || at.pageIndex >= pageCount() || at.row >= rowCount(pages_[at.pageIndex - taken_])) {
    fail(ErrorCode::InvalidArgument, "patching a row that was never added or was already handed over");
  }
  std::vector<uint8_t>& page = pages_[at.pageIndex - taken_];
  size_t start = le16(page.data() + format_.rowOffsetTable() + 2u * at.row);
  size_t end = at.row == 0 ? page.size() : le16(page.data() + format_.rowOffsetTable() + 2u * (at.row - 1u));
  if (offset > end - start || bytes.size() > end - start - offset) {
    fail(ErrorCode::InvalidArgument, "patch beyond the end of a row");
  }
  std::copy(bytes.begin(), bytes.end(), page.begin() + static_cast<std::ptrdiff_t>(start + offset));
}

std::vector<std::vector<uint8_t>> DataPageBuilder::takeFinishedPages() {
  std::vector<std::vector<uint8_t>> out;
  if (pages_.size() < 2) return out;
  out.assign(std::make_move_iterator(pages_.begin()), std::make_move_iterator(pages_.end() - 1));
  pages_.erase(pages_.begin(), pages_.end() - 1);
  taken_ += static_cast<uint32_t>(out.size());
  return out;
}

std::vector<std::vector<uint8_t>> DataPageBuilder::takePages() {
  std::vector<std::vector<uint8_t>> out;
  out.swap(pages_);
  taken_ += static_cast<uint32_t>(out.size());
  return out;
}

std::vector<std::vector<uint8_t>> packDataPages(const Format& format, uint32_t owner,
                                                const std::vector<std::vector<uint8_t>>& rows,
                                                std::vector<RowPlacement>& placements) {
  DataPageBuilder builder(format, owner);
  placements.clear();
  placements.reserve(rows.size());
  for (const std::vector<uint8_t>& row : rows) placements.push_back(builder.add(row));
  return builder.takePages();
}

}  // namespace jet
