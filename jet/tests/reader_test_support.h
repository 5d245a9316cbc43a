// Helpers shared by the reader tests: locating the sample databases and making scratch copies of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace jet::reader_testing {

// The folder of sample databases (environment variable JET_SAMPLES), or empty when it is not available.
std::filesystem::path samplesDir();
// Every .mdb file under the samples folder, sorted.
std::vector<std::filesystem::path> allSamples();
std::vector<uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A fresh temporary folder, removed when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace jet::reader_testing

#define JET_REQUIRE_SAMPLES()                                                                        \
  do {                                                                                               \
    if (::jet::reader_testing::samplesDir().empty()) GTEST_SKIP() << "JET_SAMPLES is not set or missing"; \
  } while (0)
