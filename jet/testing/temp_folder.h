// The one scratch folder helper of every test of the project, engine and utility alike.
#pragma once

#include <filesystem>
#include <string>

namespace jet::test_support {

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

}  // namespace jet::test_support
