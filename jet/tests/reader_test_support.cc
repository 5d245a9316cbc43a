#include "jet/tests/reader_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace jet::reader_testing {

namespace fs = std::filesystem;

fs::path samplesDir() {
  const char* dir = std::getenv("JET_SAMPLES");
  if (dir == nullptr || *dir == 0) return {};
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return {};
  return fs::path(dir);
}

std::vector<fs::path> allSamples() {
  std::vector<fs::path> out;
  fs::path dir = samplesDir();
  if (dir.empty()) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file() && e.path().extension() == ".mdb") out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
  std::random_device rd;
  path_ = fs::temp_directory_path() / ("jet-reader-test-" + std::to_string(rd()) + std::to_string(rd()));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

}  // namespace jet::reader_testing
