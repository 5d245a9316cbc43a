#include "tools/jetdb/gen_command.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "jet/create/generator.h"

namespace jet::create {
namespace {

bool parseNumber(const char* text, uint64_t& out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (*end != '\0' || text[0] == '-') return false;
  out = v;
  return true;
}

int genUsage() {
  std::fputs("usage: jetdb gen FILE --rows N [--seed S] [--bloat PERCENT] [--log-rows N]\n", stderr);
  return 2;
}

}  // namespace

int runGenCommand(int argc, char** argv) {
  if (argc < 1) return genUsage();
  const std::string file = argv[0];
  GeneratorOptions o;
  bool haveRows = false;
  for (int i = 1; i < argc; i += 2) {
    const std::string flag = argv[i];
    uint64_t v = 0;
    if (i + 1 >= argc || !parseNumber(argv[i + 1], v)) return genUsage();
    if (flag == "--rows") {
      o.articles = v;
      haveRows = true;
    } else if (flag == "--seed") {
      o.seed = v;
    } else if (flag == "--log-rows") {
      o.logRows = v;
    } else if (flag == "--bloat") {
      if (v > 90) return genUsage();
      o.bloatPercent = static_cast<uint32_t>(v);
    } else {
      return genUsage();
    }
  }
  if (!haveRows) return genUsage();
  GeneratorSummary s = generateDatabase(file, o);
  std::printf(
      "%s: %u pages (%llu bytes); Artikli %llu rows, Gibanja %llu rows, Dnevnik %llu rows; %llu rows deleted, %llu "
      "rows in dropped work tables\n",
      file.c_str(), s.pages, static_cast<unsigned long long>(s.pages) * 4096ull,
      static_cast<unsigned long long>(s.articles), static_cast<unsigned long long>(s.movements),
      static_cast<unsigned long long>(s.logRows), static_cast<unsigned long long>(s.deletedRows),
      static_cast<unsigned long long>(s.droppedTableRows));
  return 0;
}

}  // namespace jet::create
