// Where a compaction or the generator writes: the destination file, created by Env::createDestination.
//
// The destination must not exist beforehand (a file already there is somebody's data, or the leftover of an earlier
// run that the caller has to look at), so it is created exclusively. On failure the compactor removes it again, but
// only if the path still names the file it created: a file that somebody put there meanwhile is left alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/errors.h"

namespace jet {

class PageSink {
 public:
  virtual ~PageSink() = default;
  virtual const std::string& name() const = 0;
  // Writes bytes at offset. Throws DiskFull (3026) when the disk is full, DiskIoWrite (3043) for other failures.
  // Writes may be collected first: a failure can be reported by a later write or by finish.
  virtual void write(uint64_t offset, Bytes data) = 0;
  // The same, handing over the buffer: a sink that collects writes keeps it until it is written instead of copying
  // it. Same errors as write.
  virtual void writeOwned(uint64_t offset, std::vector<uint8_t> data) { write(offset, data); }
  // Told, on any thread, of bytes the sink has put into the file: from then on they can be read through another
  // handle, and they stay as they are.
  using WrittenObserver = std::function<void(uint64_t offset, uint64_t length)>;
  // Starts telling `observer` of what is written from now on. False when the sink cannot tell (or may still change
  // what it wrote): then nothing may be read before writeOut() returns.
  virtual bool observeWritten(WrittenObserver observer) {
    (void)observer;
    return false;
  }
  // Writes what is still collected, without waiting for the disk. Returns true when the file may then be read
  // through another handle while finish() runs on another thread (so that the flush overlaps the read-back); false
  // when it must be finished first. Same errors as write.
  virtual bool writeOut() = 0;
  // Writes what is still collected, flushes the file and its folder entry to the disk and closes the file; same
  // errors as write.
  virtual void finish() = 0;
  // Removes the file this sink created, if it is still the one at the path. Never throws.
  virtual void discard() noexcept = 0;
};

}  // namespace jet
