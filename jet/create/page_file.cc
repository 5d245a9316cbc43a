#include "jet/create/page_file.h"

#include <algorithm>

#include "jet/errors.h"
#include "jet/os/env.h"

namespace jet::create {

PageFile::PageFile(const std::string& path, const Format& format)
    : PageFile(Env::system().createDestination(path), format) {}

PageFile::PageFile(std::unique_ptr<PageSink> sink, const Format& format)
    : format_(format), sink_(std::move(sink)), writer_(*sink_, format, 0) {}

PageFile::~PageFile() {
  if (!finished_) sink_->discard();
}

void PageFile::write(uint32_t page, std::vector<uint8_t> bytes) {
  if (page >= numbers_.next()) {
    fail(ErrorCode::InvalidArgument, sink_->name() + ": page " + std::to_string(page) + " was not handed out");
  }
  writer_.write(page, std::move(bytes));
  end_ = std::max(end_, page + 1);
}

void PageFile::writeFreePageMap(const std::vector<uint32_t>& freePages) {
  const uint32_t before = numbers_.next();
  jet::writeFreePageMap(format_, numbers_, writer_, freePages);
  // Every page it took from the end was written (as a bitmap or an empty free page), page 1 too.
  end_ = std::max({end_, numbers_.next() > before ? numbers_.next() : end_, uint32_t{2}});
}

void PageFile::finish() {
  // Pages handed out at the end but never written still belong to the file, as zeros.
  if (end_ < numbers_.next()) write(numbers_.next() - 1, std::vector<uint8_t>(format_.pageSize, 0));
  sink_->finish();
  finished_ = true;
}

}  // namespace jet::create
