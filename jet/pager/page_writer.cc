#include "jet/pager/page_writer.h"

#include "jet/errors.h"
#include "jet/pager/rc4.h"

namespace jet {

uint32_t PageAllocator::allocate() {
  // Page numbers are three bytes wide in every pointer of the format.
  if (next_ >= 0xFFFFFF) fail(ErrorCode::DiskFull, "the database would exceed the largest page number");
  return next_++;
}

void PageWriter::write(uint32_t n, std::vector<uint8_t> page) {
  if (page.size() != format_.pageSize) fail(ErrorCode::InvalidArgument, "a page of the wrong size was to be written");
  if (n != 0 && encodingKey_ != 0) cryptPage(page, encodingKey_, n);
  sink_.writeOwned(uint64_t{n} * format_.pageSize, std::move(page));
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

void writeFreePageMap(const Format& f, PageAllocator& allocator, PageWriter& writer,
                      const std::vector<uint32_t>& alreadyFree) {
  constexpr uint32_t kFreeMapPage = 1;
  std::vector<uint32_t> reserved;  // handed out in order: the first `used` hold bitmaps, the rest are free
  size_t used = 0;
  EncodedUsageMap map;
  for (int attempt = 0;; ++attempt) {
    if (attempt > 64) fail(ErrorCode::InvalidArgument, "the free-page map does not settle");
    std::vector<uint32_t> freePages = alreadyFree;  // all below the reserved pages, which come from the end
    freePages.insert(freePages.end(), reserved.begin() + static_cast<std::ptrdiff_t>(used), reserved.end());
    size_t handed = 0;
    bool tooFew = false;
    map = encodeFreePageMap(f, freePages, allocator.next(), [&]() -> uint32_t {
      if (handed < reserved.size()) return reserved[handed++];
      tooFew = true;
      return reserved.empty() ? 0 : reserved.back();  // a placeholder: the map is encoded again
    });
    if (tooFew) {
      reserved.push_back(allocator.allocate());
      used = reserved.size();
      continue;
    }
    if (handed == used) break;
    if (handed < used) {
      used = handed;  // the pages the map does not need become free pages
      continue;
    }
    // Marking those pages free made the map need them again (a file that ends exactly on a bitmap page's range):
    // one more page at the end settles it, as the last bitmap is then needed for the pages past the end anyway.
    used = handed;
    reserved.push_back(allocator.allocate());
  }
  for (auto& [number, bytes] : map.bitmapPages) writer.write(number, std::move(bytes));
  for (size_t i = used; i < reserved.size(); ++i) writer.write(reserved[i], std::vector<uint8_t>(f.pageSize, 0));
  writer.write(kFreeMapPage, buildFreeMapPage(f, map.row));
}

}  // namespace jet
