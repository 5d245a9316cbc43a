#include "jet/create/page_file.h"

#include <algorithm>

#include "jet/errors.h"

namespace jet::create {

PageFile::PageFile(const std::string& path, uint32_t pageSize) : PageFile(createDestinationFile(path), pageSize) {}

PageFile::PageFile(std::unique_ptr<PageSink> sink, uint32_t pageSize) : sink_(std::move(sink)), pageSize_(pageSize) {}

PageFile::~PageFile() {
  if (!finished_) sink_->discard();
}

void PageFile::write(uint32_t page, const std::vector<uint8_t>& bytes) {
  if (bytes.size() != pageSize_) fail(ErrorCode::InvalidArgument, sink_->name() + ": a page of the wrong size");
  if (page >= next_) {
    fail(ErrorCode::InvalidArgument, sink_->name() + ": page " + std::to_string(page) + " was not handed out");
  }
  sink_->write(uint64_t{page} * pageSize_, bytes);
  end_ = std::max(end_, page + 1);
}

void PageFile::finish() {
  // Pages handed out at the end but never written still belong to the file, as zeros.
  if (end_ < next_) write(next_ - 1, std::vector<uint8_t>(pageSize_, 0));
  sink_->finish();
  finished_ = true;
}

}  // namespace jet::create
