// Fuzzes the compaction: the input is a whole database file, compacted into a second file beside it. Whatever the
// input, the run ends either in success, with a destination that passes the integrity check, or in the engine's
// refusal of a damaged or foreign file (3049, 3343), with nothing left in the folder but the source. Any other
// outcome aborts: a crash, another error number, a destination that does not check clean, a leftover file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "jet/check/integrity_check.h"
#include "jet/compact/compact.h"
#include "jet/errors.h"
#include "jet/fuzz/fuzz_file.h"
#include "jet/os/env.h"
#include "jet/read/database.h"

namespace {

namespace fs = std::filesystem;

// A folder of the process's own, in memory where the system offers one, removed at exit.
const fs::path& folder() {
  static const fs::path path = [] {
    std::error_code ignored;
    fs::path base = fs::is_directory("/dev/shm", ignored) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "jet_fuzz_compaction.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored2;
      fs::remove_all(folder(), ignored2);
    });
    return fs::path(pattern);
  }();
  return path;
}

void writeFile(const fs::path& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) std::abort();
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  return jet::fuzzing::mutateWithinPages(data, size, maxSize, seed);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path source = folder() / "in.mdb";
  const fs::path destination = folder() / "out.mdb";
  writeFile(source, data, size);
  bool compacted = false;
  try {
    jet::compactDatabase(source.string(), destination.string(), "");
    compacted = true;
  } catch (const jet::Error& e) {
    if (e.number() != 3049 && e.number() != 3343) {
      std::fprintf(stderr, "unexpected error %d: %s\n", e.number(), e.what());
      std::abort();
    }
  }
  if (compacted) {
    try {
      jet::Database db(jet::Env::system().openSource(destination.string()));
      const jet::CheckReport report = jet::checkDatabase(db);
      if (!report.clean(true)) {
        for (const jet::Problem& p : report.problems) std::fprintf(stderr, "%s\n", jet::describeProblem(p).c_str());
        std::abort();
      }
    } catch (const jet::Error& e) {
      std::fprintf(stderr, "the compacted file does not open: %d: %s\n", e.number(), e.what());
      std::abort();
    }
  }
  // Nothing stays behind but the source (and the destination of a success, removed here for the next input).
  std::error_code ignored;
  fs::remove(destination, ignored);
  for (const fs::directory_entry& entry : fs::directory_iterator(folder())) {
    if (entry.path() != source) {
      std::fprintf(stderr, "left behind: %s\n", entry.path().c_str());
      std::abort();
    }
  }
  return 0;
}
