// A database engine for the test-only executable: it does not compact anything. It keeps the
// engine's contract (the source is only read; an existing destination is refused with 3204; a
// missing source fails with 3024) and writes a recognisable copy of the source, so that tests
// can follow the files through a whole run. JETCOMPACT_TEST_ENGINE_FAILURE=N makes every
// compaction fail with the number N.

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/database_engine.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "platform/testing/test_database_engine.h"
#include "platform/text.h"

namespace platform {
namespace {

class TestDatabaseEngine final : public DatabaseEngine {
 public:
  explicit TestDatabaseEngine(FileSystem& files) : files_(files) {}

  void compactDatabase(const std::u16string& source, const std::u16string& destination,
                       const std::u16string& locale) override {
    if (const char* failure = std::getenv("JETCOMPACT_TEST_ENGINE_FAILURE")) {
      throw RuntimeError(static_cast<std::int32_t>(std::strtol(failure, nullptr, 10)), "Test engine failure");
    }
    const std::filesystem::path from = files_.systemPath(source);
    const std::filesystem::path to = files_.systemPath(destination);
    std::ifstream input(from, std::ios::binary);
    if (!input) throw RuntimeError(3024, "Could not find file '" + toUtf8(source) + "'.");
    if (std::filesystem::exists(to)) throw RuntimeError(3204, "Database already exists.");
    const std::string contents{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
    std::ofstream output(to, std::ios::binary);
    output << testing::kTestEngineMarker << toUtf8(locale) << '\n' << contents;
    if (!output.flush()) throw RuntimeError(3043, "Disk or network error.");
  }

 private:
  FileSystem& files_;
};

}  // namespace

std::unique_ptr<DatabaseEngine> createDatabaseEngine(FileSystem& files) {
  return std::make_unique<TestDatabaseEngine>(files);
}

}  // namespace platform
