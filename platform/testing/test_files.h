#pragma once
// Files and folders for tests that work on the real file system.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/testing/temp_folder.h"

namespace platform::testing {

// A fresh folder under the system's temporary folder, removed with everything in it when the object goes.
using TempFolder = jet::test_support::TempFolder;

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& contents);
// The names in a folder, sorted.
std::vector<std::string> entries(const std::filesystem::path& folder);

// A lock on one byte of a file, held as another program that has the file open would hold it, until the object goes.
// `openFile` takes an open-file-description lock, which this process's own lock checks see too; otherwise a classic
// process-wide record lock, as Jet (also under Wine) takes them, which only other processes see.
class HeldByteLock {
 public:
  enum class Kind { shared, exclusive };
  enum class Owner { process, openFile };
  HeldByteLock(const std::filesystem::path& file, std::int64_t offset, Kind kind, Owner owner);
  ~HeldByteLock();
  HeldByteLock(const HeldByteLock&) = delete;
  HeldByteLock& operator=(const HeldByteLock&) = delete;

  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace platform::testing
