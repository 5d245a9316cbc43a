#pragma once
// Files and folders for tests that work on the real file system.

#include <filesystem>
#include <string>
#include <vector>

namespace platform::testing {

// A fresh folder under the system's temporary folder, named `prefix` plus a unique suffix, removed with everything
// in it when the object goes. Throws std::runtime_error when it cannot be made.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& contents);
// The names in a folder, sorted.
std::vector<std::string> entries(const std::filesystem::path& folder);

}  // namespace platform::testing
