#include "platform/testing/test_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace platform::testing {

namespace fs = std::filesystem;

std::string readFile(const fs::path& file) {
  std::ifstream input(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& file, const std::string& contents) { std::ofstream(file, std::ios::binary) << contents; }

std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

HeldByteLock::HeldByteLock(const fs::path& file, std::int64_t offset, Kind kind, Owner owner)
    : fd_(::open(file.c_str(), O_RDWR | O_CLOEXEC)) {
  if (fd_ < 0) return;
  struct flock lock {};
  lock.l_type = kind == Kind::exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(offset);
  lock.l_len = 1;
  held_ = ::fcntl(fd_, owner == Owner::openFile ? F_OFD_SETLK : F_SETLK, &lock) == 0;
}

HeldByteLock::~HeldByteLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform::testing
