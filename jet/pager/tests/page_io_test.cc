// Reading pages through the bounded cache (runs read ahead, buffers reused) and writing them through the destination
// file's batches (pieces collected, written sorted by a second thread): whatever the order, every byte arrives where it
// belongs, and a failure behind the caller's back still reaches the caller.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <mutex>
#include <numeric>
#include <random>

#include "jet/os/env.h"
#include "jet/create/generator.h"
#include "jet/errors.h"
#include "jet/pager/page_reader.h"
#include "jet/os/page_source.h"
#include "jet/testing/reader_test_support.h"

namespace jet {
namespace {

using reader_testing::readFile;
using reader_testing::TempDir;

// Counts the calls that reach the bytes, and fails every call that touches one page.
class CountingSource : public PageSource {
 public:
  CountingSource(std::vector<uint8_t> bytes, uint32_t pageSize)
      : inner_("counted.mdb", std::move(bytes)), pageSize_(pageSize) {}
  const std::string& name() const override { return inner_.name(); }
  uint64_t size() const override { return inner_.size(); }
  void read(uint64_t offset, std::span<uint8_t> out) override {
    if (!scattering_) ++calls;
    const uint64_t bad = uint64_t{badPage} * pageSize_;
    if (badPage != 0 && offset <= bad && bad < offset + out.size()) {
      fail(ErrorCode::DiskIoRead, "counted.mdb: disk I/O error during read");
    }
    inner_.read(offset, out);
  }
  // One call however many pages it fills, as a file's preadv.
  void readScattered(uint64_t offset, std::span<const std::span<uint8_t>> parts) override {
    ++calls;
    scattering_ = true;
    try {
      PageSource::readScattered(offset, parts);
    } catch (...) {
      scattering_ = false;
      throw;
    }
    scattering_ = false;
  }
  // Hints come from the hinting thread.
  void willRead(uint64_t offset, uint64_t length) override {
    {
      std::lock_guard lock(hintMutex_);
      hints_.emplace_back(offset, length);
      hintedBytes_ += length;
    }
    hinted_.notify_all();
  }
  // The hints once they cover `bytes`, or what came within ten seconds.
  std::vector<std::pair<uint64_t, uint64_t>> hintsCovering(uint64_t bytes) {
    std::unique_lock lock(hintMutex_);
    hinted_.wait_for(lock, std::chrono::seconds(10), [&] { return hintedBytes_ >= bytes; });
    return hints_;
  }
  uint64_t calls = 0;
  uint32_t badPage = 0;

 private:
  std::mutex hintMutex_;
  std::condition_variable hinted_;
  std::vector<std::pair<uint64_t, uint64_t>> hints_;
  uint64_t hintedBytes_ = 0;
  MemorySource inner_;
  uint32_t pageSize_;
  bool scattering_ = false;
};

// A generated database of a few hundred pages, enough for many evictions from the cache.
std::vector<uint8_t> databaseBytes(uint32_t& pageSize) {
  TempDir dir;
  const std::string path = (dir.path() / "pages.mdb").string();
  create::GeneratorOptions options;
  options.articles = 200;
  create::generateDatabase(path, options);
  pageSize = 4096;
  return readFile(path);
}

bool samePage(const PageHandle& page, const std::vector<uint8_t>& file, uint32_t n, uint32_t pageSize) {
  return page->size() == pageSize && std::equal(page->begin(), page->end(), file.begin() + size_t{n} * pageSize);
}

TEST(PageReaderCache, EveryAccessOrderReadsTheFilesBytes) {
  uint32_t ps = 0;
  const std::vector<uint8_t> file = databaseBytes(ps);
  auto source = std::make_unique<CountingSource>(file, ps);
  CountingSource* counted = source.get();
  PageReader reader(std::move(source), 16);
  const uint32_t pages = reader.pageCount();
  ASSERT_GT(pages, 200u);

  // A forward scan reads runs: far fewer calls than pages.
  uint64_t before = counted->calls;
  for (uint32_t n = 0; n < pages; ++n) ASSERT_TRUE(samePage(reader.page(n), file, n, ps)) << n;
  EXPECT_LT(counted->calls - before, pages / 2);

  // Handles held across many evictions keep their bytes; buffers given back are reused for other pages.
  std::vector<std::pair<uint32_t, PageHandle>> held;
  for (uint32_t n : {3u, 50u, 51u, 199u}) held.emplace_back(n, reader.page(n));
  // Two interleaved forward runs, a backward scan and random pages.
  for (uint32_t n = 0; n < pages / 2; ++n) {
    ASSERT_TRUE(samePage(reader.page(n), file, n, ps)) << n;
    ASSERT_TRUE(samePage(reader.page(pages / 2 + n), file, pages / 2 + n, ps)) << n;
  }
  for (uint32_t n = pages; n-- > 0;) ASSERT_TRUE(samePage(reader.page(n), file, n, ps)) << n;
  std::mt19937 random(7);
  std::uniform_int_distribution<uint32_t> any(0, pages - 1);
  for (int i = 0; i < 3000; ++i) {
    uint32_t n = any(random);
    ASSERT_TRUE(samePage(reader.page(n), file, n, ps)) << n;
  }
  for (const auto& [n, page] : held) EXPECT_TRUE(samePage(page, file, n, ps)) << n;
  EXPECT_THROW(reader.page(pages), Error);
}

// A bad page further along a run does not fail the pages before it; the bad page itself still fails with 3040.
TEST(PageReaderCache, AReadErrorAheadOfTheRunConcernsOnlyItsPage) {
  uint32_t ps = 0;
  const std::vector<uint8_t> file = databaseBytes(ps);
  auto source = std::make_unique<CountingSource>(file, ps);
  source->badPage = 100;
  PageReader reader(std::move(source), 64);
  for (uint32_t n = 60; n < 100; ++n) ASSERT_TRUE(samePage(reader.page(n), file, n, ps)) << n;
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      reader.page(100);
      FAIL() << "page 100 read";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 3040);
    }
  }
  for (uint32_t n = 101; n < 140; ++n) ASSERT_TRUE(samePage(reader.page(n), file, n, ps)) << n;
  for (uint32_t n = 60; n < 100; ++n) ASSERT_TRUE(samePage(reader.page(n), file, n, ps)) << n;
}

// Hinting that the whole file will be read runs beside the reads and changes none of them; the source hears of every
// byte once, in file order, in pieces small enough for the system to act on whole. A file's own source takes hints
// past its end as calmly as within.
TEST(PageReaderCache, TheWholeFileHintCoversTheFileAndChangesNoRead) {
  uint32_t ps = 0;
  const std::vector<uint8_t> file = databaseBytes(ps);
  auto source = std::make_unique<CountingSource>(file, ps);
  CountingSource* counted = source.get();
  PageReader reader(std::move(source), 16);
  const uint32_t pages = reader.pageCount();
  reader.hintWholeFile();
  reader.hintWholeFile();  // a second time changes nothing
  std::mt19937 random(11);
  std::uniform_int_distribution<uint32_t> any(0, pages - 1);
  for (int i = 0; i < 2000; ++i) {
    const uint32_t n = i % 2 == 0 ? any(random) : static_cast<uint32_t>(i / 2) % pages;
    ASSERT_TRUE(samePage(reader.page(n), file, n, ps)) << n;
  }
  const uint64_t length = uint64_t{pages} * ps;
  uint64_t next = 0;
  for (const auto& [offset, bytes] : counted->hintsCovering(length)) {
    EXPECT_EQ(offset, next);
    EXPECT_GT(bytes, 0u);
    EXPECT_LE(bytes, WholeFileHint::kPiece);
    next = offset + bytes;
  }
  EXPECT_EQ(next, length);

  TempDir dir;
  const std::string path = (dir.path() / "hinted.mdb").string();
  reader_testing::writeFile(path, file);
  std::unique_ptr<PageSource> real = Env::system().openSource(path);
  real->willRead(0, file.size());
  real->willRead(file.size() - 1, 1 << 20);
  real->willRead(uint64_t{1} << 40, 4096);
  std::vector<uint8_t> back(file.size());
  real->read(0, back);
  EXPECT_TRUE(back == file);
}

// The destination collects writes and writes them sorted: pieces out of order, written twice (the last one counts),
// overlapping and larger than the buffer all end up as written, whether copied or handed over (every third piece).
TEST(DestinationFile, BufferedWritesLandWhereTheyWereWritten) {
  TempDir tmp;
  const std::filesystem::path out = tmp.path() / "out.bin";
  constexpr size_t kPage = 4096;
  constexpr uint32_t kPages = 900;  // more than the buffer holds
  std::vector<uint8_t> expected(kPages * kPage, 0);
  std::unique_ptr<PageSink> sink = Env::system().createDestination(out);
  std::mt19937 random(11);
  size_t pieces = 0;
  auto put = [&](uint64_t offset, size_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 31);
    std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(offset));
    if (pieces++ % 3 == 0) {
      sink->writeOwned(offset, std::move(bytes));
    } else {
      sink->write(offset, bytes);
    }
  };
  std::vector<uint32_t> order(kPages);
  std::iota(order.begin(), order.end(), 0u);
  // Mostly ascending with pages held back a little, as the compactor writes them.
  for (size_t i = 0; i + 3 < order.size(); i += 4) std::swap(order[i], order[i + 3]);
  std::shuffle(order.begin() + 700, order.end(), random);
  for (uint32_t n : order) {
    put(uint64_t{n} * kPage, kPage, static_cast<uint8_t>(n));
    if (n % 97 == 0) put(uint64_t{n} * kPage, kPage, static_cast<uint8_t>(n + 1));  // rewritten
  }
  put(10 * kPage + 100, 50, 0xA5);       // inside a page written before
  put(20 * kPage, 3 * kPage + 7, 0x5A);  // across pages, unaligned end
  put(100 * kPage, 300 * kPage, 0x33);   // larger than the buffer
  put(150 * kPage, kPage, 0x44);         // inside the large write, after it
  sink->finish();
  EXPECT_EQ(readFile(out), expected);
}

// A file of over a hundred megabytes is flushed while it grows, on a thread beside the writer's: it ends whole, and
// one discarded while such flushes run is removed without waiting for the rest.
TEST(DestinationFile, ALargeFileIsFlushedAsItGrowsAndEndsWhole) {
  TempDir tmp;
  constexpr size_t kPage = 4096;
  constexpr uint64_t kPages = 40000;  // 164 MB: flushed ten times in between
  auto pageOf = [](uint64_t n) {
    std::vector<uint8_t> page(kPage, static_cast<uint8_t>(n * 7));
    for (size_t i = 0; i < 8; ++i) page[i] = static_cast<uint8_t>(n >> (8 * i));
    return page;
  };
  const std::filesystem::path out = tmp.path() / "large.bin";
  std::unique_ptr<PageSink> sink = Env::system().createDestination(out);
  for (uint64_t n = 0; n < kPages; ++n) sink->writeOwned(n * kPage, pageOf(n));
  sink->finish();
  std::ifstream in(out, std::ios::binary);
  std::vector<uint8_t> page(kPage);
  uint64_t wrong = 0;
  for (uint64_t n = 0; n < kPages; ++n) {
    in.read(reinterpret_cast<char*>(page.data()), kPage);
    if (!in || page != pageOf(n)) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(std::filesystem::file_size(out), kPages * kPage);

  const std::filesystem::path abandoned = tmp.path() / "abandoned.bin";
  std::unique_ptr<PageSink> second = Env::system().createDestination(abandoned);
  for (uint64_t n = 0; n < kPages / 2; ++n) second->writeOwned(n * kPage, pageOf(n));
  second->discard();
  EXPECT_FALSE(std::filesystem::exists(abandoned));
}

// A disk that fills up (here: a file-size limit) while batches are written behind the caller's back: the failure
// keeps its number, whichever call reports it, and discarding removes the file.
TEST(DestinationFile, AFullDiskIsReportedAndDiscardRemovesTheFile) {
  TempDir tmp;
  const std::filesystem::path out = tmp.path() / "full.bin";
  std::unique_ptr<PageSink> sink = Env::system().createDestination(out);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit small = before;
  small.rlim_cur = 256 * 1024;
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  int number = 0;
  try {
    const std::vector<uint8_t> page(4096, 0x5A);
    for (uint64_t n = 0; n < 2048; ++n) sink->write(n * page.size(), page);
    sink->finish();
  } catch (const Error& e) {
    number = e.number();
  }
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(number, 3026);
  sink->discard();
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace jet
