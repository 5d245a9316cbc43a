#include "jet/testing/codec_samples.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace jet::testing {

std::filesystem::path samplesDir() {
  const char* env = std::getenv("JET_SAMPLES");
  if (env == nullptr || *env == '\0') return {};
  std::filesystem::path dir(env);
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path{};
}

std::vector<SampleFile> loadSamples() {
  std::vector<SampleFile> out;
  std::filesystem::path dir = samplesDir();
  if (dir.empty()) return out;
  for (const char* sub : {"jet3", "jet4"}) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir / sub, ec)) {
      if (entry.path().extension() != ".mdb") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      SampleFile f;
      f.name = std::string(sub) + "/" + entry.path().filename().string();
      f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (f.bytes.size() < 0x15) continue;
      f.format = &formatFor(f.bytes[0x14] == 0 ? Version::Jet3 : Version::Jet4);
      out.push_back(std::move(f));
    }
  }
  std::sort(out.begin(), out.end(), [](const SampleFile& a, const SampleFile& b) { return a.name < b.name; });
  return out;
}

}  // namespace jet::testing
