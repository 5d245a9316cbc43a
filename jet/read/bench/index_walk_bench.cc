// Speed of walking an index in key order: trees of 10 thousand to 1 million entries, laid out by the tree builder in
// a file held in memory, walked through a page reader with the default cache. Prints entries per second and the
// pages the walk read.
#include <benchmark/benchmark.h>

#include <cstring>

#include "jet/pager/header.h"
#include "jet/read/index_walk.h"
#include "jet/os/page_source.h"

namespace {

constexpr uint32_t kOwner = 2;
constexpr uint32_t kFirst = 3;

std::vector<uint8_t> treeFile(size_t entries) {
  const jet::Format& f = jet::kJet4Format;
  std::vector<jet::IndexEntry> leafEntries;
  leafEntries.reserve(entries);
  for (size_t i = 0; i < entries; ++i) {
    // A text-like key of 16 bytes and a row pointer, in the shape Jet writes them.
    std::vector<uint8_t> key{0x7F};
    size_t v = i * 2654435761u % (entries * 4);
    for (int k = 0; k < 15; ++k) key.push_back(static_cast<uint8_t>(0x40 + (v >> (k % 8 * 3)) % 26));
    leafEntries.push_back(
        jet::makeLeafEntry(key, jet::RowPointer{static_cast<uint32_t>(100 + i / 100), static_cast<uint8_t>(i % 100)}));
  }
  jet::IndexTree tree = jet::buildIndexTree(f, kOwner, std::move(leafEntries), kFirst);
  std::vector<uint8_t> file(size_t{f.pageSize} * (kFirst + tree.pages.size()), 0);
  file[1] = 1;
  std::memcpy(file.data() + 4, "Standard Jet DB", 15);
  file[0x14] = 1;
  jet::unmaskHeader(std::span<uint8_t>(file.data(), f.pageSize), f);
  for (size_t i = 0; i < tree.pages.size(); ++i) {
    std::memcpy(file.data() + (kFirst + i) * f.pageSize, tree.pages[i].data(), f.pageSize);
  }
  return file;
}

void walkIndex(benchmark::State& state) {
  const size_t entries = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> file = treeFile(entries);
  uint64_t reads = 0;
  uint32_t depth = 0;
  for (auto _ : state) {
    jet::PageReader pages(std::make_unique<jet::MemorySource>("bench.mdb", file));
    jet::IndexWalker walker(pages, kOwner, kFirst);
    jet::IndexWalkEntry e;
    uint64_t n = 0;
    while (walker.next(e)) n += e.row.row;
    benchmark::DoNotOptimize(n);
    reads = pages.reads();
    depth = walker.depth();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(entries));
  state.counters["pages_read"] = static_cast<double>(reads);
  state.counters["levels"] = depth;
  state.counters["file_MiB"] = static_cast<double>(file.size()) / (1024.0 * 1024.0);
}
BENCHMARK(walkIndex)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
