// Where the bytes of a database come from.
//
// The engine reads through this small interface so that tests can inject I/O failures and so that each system's Env
// (jet/os/env.h), which opens files, can slot in. Sources are opened read-only: reading never changes the file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace jet {

class PageSource {
 public:
  virtual ~PageSource() = default;
  // Name used in error messages (the path, for files).
  virtual const std::string& name() const = 0;
  virtual uint64_t size() const = 0;
  // Fills out with the bytes at offset; throws jet::Error (3040) when the read fails or comes back short.
  virtual void read(uint64_t offset, std::span<uint8_t> out) = 0;
  // Fills the parts, one after the other, with the bytes from offset on; same errors as read. Sources that can fill
  // several buffers with one call (a file) do so: scans read runs of pages this way.
  virtual void readScattered(uint64_t offset, std::span<const std::span<uint8_t>> parts);
  // How many of the `length` bytes from offset on can be read now without waiting (all of them, but for a file that is
  // still being written): reading ahead stops there.
  virtual uint64_t readableNow(uint64_t offset, uint64_t length) {
    (void)offset;
    return length;
  }
  // A hint that the bytes from offset on will be read soon: a file the system holds only in part in memory may start
  // reading the rest in the background. Nothing waits for it and nothing fails; it may be called on another thread
  // while the source is read.
  virtual void willRead(uint64_t offset, uint64_t length) {
    (void)offset;
    (void)length;
  }
};

// A source over bytes in memory, for tests and for building databases in memory.
class MemorySource : public PageSource {
 public:
  MemorySource(std::string name, std::vector<uint8_t> bytes) : name_(std::move(name)), bytes_(std::move(bytes)) {}
  const std::string& name() const override { return name_; }
  uint64_t size() const override { return bytes_.size(); }
  void read(uint64_t offset, std::span<uint8_t> out) override;

 private:
  std::string name_;
  std::vector<uint8_t> bytes_;
};

}  // namespace jet
