// What the check for rows a compaction would leave behind costs, beside the compaction itself: a generated database
// of about 10 MB (40 % bloat), read from a file in the page cache. Prints the time of the check alone (reading the
// catalog, planning, and looking at every page) and of a whole compaction, and the file's pages per second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "jet/compact/compact.h"
#include "jet/compact/lost_rows.h"
#include "jet/os/env.h"
#include "jet/compact/plan.h"
#include "jet/create/generator.h"
#include "jet/os/env.h"
#include "jet/pager/page_reader.h"
#include "jet/read/catalog.h"

namespace {

namespace fs = std::filesystem;

const fs::path& sourceFile(int64_t articles) {
  static fs::path path;
  if (path.empty()) {
    path = fs::temp_directory_path() / ("jet_lost_rows_bench_" + std::to_string(articles) + ".mdb");
    fs::remove(path);
    jet::create::GeneratorOptions options;
    options.articles = static_cast<uint64_t>(articles);
    options.seed = 1;
    options.bloatPercent = 40;
    jet::create::generateDatabase(path.string(), options);
  }
  return path;
}

void lostRowsCheck(benchmark::State& state) {
  const fs::path& file = sourceFile(state.range(0));
  uint32_t pages = 0;
  for (auto _ : state) {
    jet::PageReader source(jet::Env::system().openSource(file.string()));
    jet::Catalog catalog = jet::readCatalog(source);
    jet::CompactPlan plan = jet::planCompaction(source, catalog);
    jet::LostRowsCheck::run(source, plan);
    pages = source.pageCount();
  }
  state.SetItemsProcessed(state.iterations() * pages);
  state.counters["pages"] = pages;
  state.counters["file_MiB"] = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
}

void wholeCompaction(benchmark::State& state) {
  const fs::path& file = sourceFile(state.range(0));
  const fs::path out = fs::path(file).replace_extension(".out.mdb");
  for (auto _ : state) {
    fs::remove(out);
    jet::compactDatabase(file.string(), out.string(), "");
  }
  fs::remove(out);
  state.counters["file_MiB"] = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
}

}  // namespace

BENCHMARK(lostRowsCheck)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(wholeCompaction)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
