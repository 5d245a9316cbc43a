#include "jet/compact_output.h"

#include "jet/errors.h"
#include "jet/rc4.h"

namespace jet {

uint32_t PageAllocator::allocate() {
  // Page numbers are three bytes wide in every pointer of the format.
  if (next_ >= 0xFFFFFF) fail(ErrorCode::DiskFull, "the compacted database would exceed the largest page number");
  return next_++;
}

void PageWriter::write(uint32_t n, std::vector<uint8_t> page) {
  if (page.size() != format_.pageSize) fail(ErrorCode::InvalidArgument, "a page of the wrong size was to be written");
  if (n != 0 && encodingKey_ != 0) cryptPage(page, encodingKey_, n);
  sink_.write(uint64_t{n} * format_.pageSize, page);
  ++written_;
}

UsageMapStore::UsageMapStore(const Format& format, PageAllocator& allocator, PageWriter& writer)
    : format_(format), allocator_(allocator), writer_(writer), builder_(format, 0) {}

RowPointer UsageMapStore::add(std::vector<uint32_t> pages) {
  EncodedUsageMap map = encodeUsageMap(format_, std::move(pages), [this] { return allocator_.allocate(); });
  for (auto& [number, bytes] : map.bitmapPages) writer_.write(number, std::move(bytes));
  RowPlacement at = builder_.add(map.row);
  while (numbers_.size() <= at.pageIndex) numbers_.push_back(allocator_.allocate());
  for (std::vector<uint8_t>& page : builder_.takeFinishedPages()) writer_.write(numbers_[written_++], std::move(page));
  return {numbers_[at.pageIndex], at.row};
}

void UsageMapStore::finish() {
  for (std::vector<uint8_t>& page : builder_.takePages()) writer_.write(numbers_[written_++], std::move(page));
}

}  // namespace jet
