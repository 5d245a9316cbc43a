// Where a compaction writes: the destination file, created by the compactor itself.
//
// The destination must not exist beforehand (a file already there is somebody's data, or the leftover of an earlier
// run that the caller has to look at), so it is created exclusively. On failure the compactor removes it again, but
// only if the path still names the file it created: a file that somebody put there meanwhile is left alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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
  // Writes what is still collected, flushes the file and its folder entry to the disk and closes the file; same
  // errors as write.
  virtual void finish() = 0;
  // Removes the file this sink created, if it is still the one at the path. Never throws.
  virtual void discard() noexcept = 0;
};

// Creates the destination exclusively. Throws DatabaseExists (3204) when something is already at the path,
// InvalidPath (3044) when its folder does not exist, CannotOpen (3051) when it may not be created there.
std::unique_ptr<PageSink> createDestinationFile(const std::string& path);

// The destination of a compaction, written under a hidden name of its own in the destination's folder and given the
// destination's name only when it is complete, so that an interrupted run never leaves a partial file under that
// name. The hidden name is "." + the destination's name (cut, at a character boundary, so that the whole fits
// wherever the name fits) + ".partial-" + six characters; the file is held with an exclusive lock for as long as this
// object lives, so that nobody takes it for a leftover.
class PartialOutput {
 public:
  // Removes what interrupted runs left for `path` (see removeLeftovers), refuses a destination that is there
  // (DatabaseExists, 3204) and creates the hidden file. Throws InvalidPath (3044) when the folder does not exist,
  // CannotOpen (3051) when the file may not be created there, DiskFull (3026).
  static std::unique_ptr<PartialOutput> create(const std::string& path, const std::string& source);
  ~PartialOutput();
  PartialOutput(const PartialOutput&) = delete;
  PartialOutput& operator=(const PartialOutput&) = delete;

  const std::string& partialPath() const { return partial_; }
  // A sink that writes the hidden file (its discard() removes it).
  std::unique_ptr<PageSink> sink();
  // Gives the finished, flushed file the destination's name without replacing anything (DatabaseExists when a file
  // took the name meanwhile; the hidden file is then removed) and flushes the folder. With keepHiddenName the hidden
  // name stays as a second name of the same file, for a caller that moves the file on and removes it then: until it
  // does, a later run can tell the file under the destination's name from somebody else's, and remove it.
  void publish(bool keepHiddenName);
  // Removes the hidden file if it is still the one created. Never throws.
  void discard() noexcept;

  // Removes the leftovers of interrupted runs for the destination `path`: hidden files of the naming above that no
  // process holds, and a file under `path` itself that is a second name of such a hidden file (a finished output
  // whose run ended before it moved it on), unless it is the file `source`.
  static void removeLeftovers(const std::string& path, const std::string& source);

 private:
  PartialOutput(std::string path, std::string partial, int guard, uint64_t device, uint64_t inode)
      : path_(std::move(path)), partial_(std::move(partial)), guard_(guard), device_(device), inode_(inode) {}
  std::string path_;
  std::string partial_;
  int guard_;  // holds the lock
  uint64_t device_;
  uint64_t inode_;
};

// The hidden name's beginning for a destination named `leaf` in `folder` ("." + leaf, cut to fit, + ".partial-").
std::string partialNamePrefix(const std::string& folder, const std::string& leaf);

// The error a failed write or flush reports for errno `err`.
ErrorCode writeErrorFor(int err);

}  // namespace jet
