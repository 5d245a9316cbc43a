// The hot loops of a compaction, on a generated 40 %-bloated database of about 10 MB (2000 articles, 6000 movements)
// held in the page cache: copying the rows of the largest table, rebuilding its indexes, decoding its data and index
// pages, and the digests the read-back compares with. Writes go nowhere, so only the engine's own work is measured.
// Prints rows, entries or bytes per second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "jet/read/catalog.h"
#include "jet/compact/indexes.h"
#include "jet/pager/page_writer.h"
#include "jet/compact/plan.h"
#include "jet/compact/rows.h"
#include "jet/create/generator.h"
#include "jet/format/data_page.h"
#include "jet/compact/digest.h"
#include "jet/format/index_page.h"
#include "jet/pager/page_reader.h"
#include "jet/os/env.h"
#include "jet/format/row_layout.h"
#include "jet/read/table_scan.h"

namespace {

namespace fs = std::filesystem;

// Takes pages and drops them.
class NullSink : public jet::PageSink {
 public:
  const std::string& name() const override { return name_; }
  void write(uint64_t, jet::Bytes data) override { bytes_ += data.size(); }
  bool writeOut() override { return true; }
  void finish() override {}
  void discard() noexcept override {}
  uint64_t bytes() const { return bytes_; }

 private:
  std::string name_ = "null";
  uint64_t bytes_ = 0;
};

// The generated database, made once for every benchmark of the run.
class Sample {
 public:
  static Sample& get() {
    static Sample sample;
    return sample;
  }
  const std::string& path() const { return path_; }
  ~Sample() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

 private:
  Sample() {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("jet_compact_bench." + std::to_string(random()));
    fs::create_directories(dir_);
    path_ = (dir_ / "bench.mdb").string();
    jet::create::GeneratorOptions options;
    options.articles = 2000;
    options.seed = 1;
    options.bloatPercent = 40;
    jet::create::generateDatabase(path_, options);
  }
  fs::path dir_;
  std::string path_;
};

struct Opened {
  jet::PageReader pages;
  jet::CompactPlan plan;
  const jet::TablePlan* table = nullptr;

  Opened() : pages(jet::Env::system().openSource(Sample::get().path())) {
    plan = jet::planCompaction(pages, jet::readCatalog(pages));
    for (const jet::TablePlan& t : plan.tables) {
      if (t.name == "Gibanja") table = &t;
    }
  }
};

void copyRows(benchmark::State& state) {
  Opened db;
  uint64_t rows = 0;
  for (auto _ : state) {
    NullSink sink;
    jet::PageWriter writer(sink, db.pages.format(), db.pages.header().encodingKey);
    jet::PageAllocator allocator(db.plan.firstDataPage);
    jet::CopiedTable copied = jet::copyTableRows(db.pages, db.plan, *db.table, allocator, writer);
    rows = copied.rows.size();
    benchmark::DoNotOptimize(sink.bytes());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rows));
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(copyRows)->Unit(benchmark::kMillisecond);

void rebuildIndexes(benchmark::State& state) {
  Opened db;
  NullSink rowSink;
  jet::PageWriter rowWriter(rowSink, db.pages.format(), 0);
  jet::PageAllocator rowAllocator(db.plan.firstDataPage);
  jet::CopiedTable copied = jet::copyTableRows(db.pages, db.plan, *db.table, rowAllocator, rowWriter);
  uint64_t entries = 0;
  for (auto _ : state) {
    NullSink sink;
    jet::PageWriter writer(sink, db.pages.format(), db.pages.header().encodingKey);
    jet::PageAllocator allocator(rowAllocator.next());
    entries = 0;
    for (size_t k = 0; k < db.table->def.realIndexes.size(); ++k) {
      entries += jet::rebuildIndex(db.pages, db.plan, *db.table, copied, k, allocator, writer).entries;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(entries));
  state.counters["entries"] = static_cast<double>(entries);
}
BENCHMARK(rebuildIndexes)->Unit(benchmark::kMillisecond);

// Every live row of the table located and split into its fields, as the copy and the read-back do.
void decodeDataPages(benchmark::State& state) {
  Opened db;
  uint64_t rows = 0;
  for (auto _ : state) {
    jet::TableScan scan(db.pages, db.table->def);
    jet::RowRecord rec;
    jet::RowLayout layout;
    rows = 0;
    while (scan.next(rec)) {
      jet::crackRow(db.pages.format(), db.table->def, rec.bytes, layout);
      ++rows;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rows));
}
BENCHMARK(decodeDataPages)->Unit(benchmark::kMillisecond);

// Every index page of the file decoded, into buffers reused from page to page.
void decodeIndexPages(benchmark::State& state) {
  Opened db;
  std::vector<uint32_t> indexPages;
  for (uint32_t p = 1; p < db.pages.pageCount(); ++p) {
    jet::PageHandle h = db.pages.page(p);
    if ((*h)[0] == 0x03 || (*h)[0] == 0x04) indexPages.push_back(p);
  }
  uint64_t entries = 0;
  jet::IndexPage decoded;
  for (auto _ : state) {
    entries = 0;
    for (uint32_t p : indexPages) {
      jet::PageHandle h = db.pages.page(p);
      jet::decodeIndexPage(db.pages.format(), *h, p, decoded);
      entries += decoded.entries.size();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(entries));
  state.counters["pages"] = static_cast<double>(indexPages.size());
}
BENCHMARK(decodeIndexPages)->Unit(benchmark::kMillisecond);

void digest(benchmark::State& state) {
  std::vector<uint8_t> bytes(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131);
  for (auto _ : state) {
    jet::Digest d;
    d.add(bytes);
    benchmark::DoNotOptimize(d.value());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(digest)->Arg(200)->Arg(1 << 20);

}  // namespace

// Index entries look rows up in key order, that is all over the table: a million lookups at random, on a table of
// state.range(0) rows spread over pages as a bloated table has them (about a third of each page's slots deleted).
void rowPointerLookups(benchmark::State& state) {
  const auto rows = static_cast<uint32_t>(state.range(0));
  std::mt19937 random(7);
  jet::RowPointerMap map;
  std::vector<jet::RowPointer> from;
  uint32_t newPage = 1000, newRow = 0;
  for (uint32_t page = 100; from.size() < rows; ++page) {
    for (uint32_t slot = 0; slot < 24 && from.size() < rows; ++slot) {
      if (random() % 3 == 0) continue;
      if (newRow == 40) ++newPage, newRow = 0;
      jet::RowPointer old{page, static_cast<uint8_t>(slot)};
      map.add(old, {newPage, static_cast<uint8_t>(newRow++)});
      from.push_back(old);
    }
  }
  std::vector<jet::RowPointer> lookups(1'000'000);
  for (jet::RowPointer& r : lookups) r = from[random() % from.size()];
  const bool ahead = state.range(1) != 0;  // as the index rebuild does: asking for memory ahead of the lookups
  uint64_t found = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < lookups.size(); ++i) {
      if (ahead && i + 16 < lookups.size()) map.prefetchPage(lookups[i + 16]);
      if (ahead && i + 8 < lookups.size()) map.prefetchSlots(lookups[i + 8]);
      found += map.find(lookups[i]).has_value();
    }
  }
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lookups.size()));
}
BENCHMARK(rowPointerLookups)
    ->ArgNames({"rows", "ahead"})
    ->ArgsProduct({{100'000, 4'000'000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
