#include "jet/testing/temp_folder.h"

#include <random>
#include <stdexcept>
#include <system_error>

namespace jet::test_support {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& prefix) {
  // create_directory reports whether it made the folder, so a name another test took meanwhile is never shared.
  std::random_device random;
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) throw std::runtime_error("no temporary folder: " + error.message());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / (prefix + "-" + std::to_string(random()) + std::to_string(random()));
    if (fs::create_directory(candidate, error)) {
      path_ = std::move(candidate);
      return;
    }
    if (error)
      throw std::runtime_error("cannot make a temporary folder " + candidate.string() + ": " + error.message());
  }
  throw std::runtime_error("cannot make a temporary folder under " + base.string() + ": every name was taken");
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace jet::test_support
