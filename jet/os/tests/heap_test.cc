#include "jet/os/heap.h"
#include "jet/os/posix/sanitized_allocator.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The mapping of this process that holds an address: its name ("[heap]") and its flags (VmFlags of smaps).
struct Mapping {
  std::string name;
  std::string flags;
  uint64_t hugeKib = 0;  // AnonHugePages
};

std::optional<Mapping> mappingOf(const void* address) {
  const auto at = reinterpret_cast<uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  Mapping found;
  while (std::getline(smaps, line)) {
    uintptr_t from = 0;
    uintptr_t to = 0;
    char dash = 0;
    std::istringstream fields(line);
    if (fields >> std::hex >> from >> dash >> to && dash == '-') {
      if (inside) return found;  // the mapping ended without flags
      inside = from <= at && at < to;
      if (inside) {
        std::string perms, offset, device, inode;
        fields >> perms >> offset >> device >> inode;
        std::getline(fields >> std::ws, found.name);
      }
    } else if (inside && line.rfind("AnonHugePages:", 0) == 0) {
      found.hugeKib = std::stoull(line.substr(14));
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      found.flags = line.substr(8) + " ";
      return found;
    }
  }
  return std::nullopt;
}

// The setting in brackets: "always", "madvise" or "never"; empty without huge pages.
std::string hugePagesSetting() {
  std::string line;
  std::getline(std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"), line);
  const size_t open = line.find('[');
  const size_t close = line.find(']');
  return open < close && close != std::string::npos ? line.substr(open + 1, close - open - 1) : std::string();
}

// Faults that wanted a huge page and got small ones, system-wide.
uint64_t hugePageFallbacks() {
  std::ifstream vmstat("/proc/vmstat");
  std::string name;
  uint64_t value = 0;
  while (vmstat >> name >> value) {
    if (name == "thp_fault_fallback") return value;
  }
  return 0;
}

#ifdef JET_SANITIZED_ALLOCATOR
constexpr bool kSanitizedAllocator = true;
#else
constexpr bool kSanitizedAllocator = false;
#endif

// First in this file: the child it forks must be the first to ready its heap.
TEST(HeapForRun, ARunThatFitsALimitOnItsMemoryStillFits) {
  if (kSanitizedAllocator) GTEST_SKIP() << "a sanitizer's allocator does not run under a limit on the data segment";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0) << std::strerror(errno);
  if (child == 0) {
    // 40 MB of data, and 24 MB taken as a run takes them: pages, and a few larger blocks.
    const rlimit limit{size_t{40} << 20, size_t{40} << 20};
    if (::setrlimit(RLIMIT_DATA, &limit) != 0) ::_exit(2);
    jet::prepareHeapForRun();
    for (int i = 0; i < 4096; ++i) {
      void* page = std::malloc(4096);
      if (page == nullptr) ::_exit(1);
      std::memset(page, 1, 4096);
    }
    for (int i = 0; i < 8; ++i) {
      void* block = std::malloc(size_t{1} << 20);
      if (block == nullptr) ::_exit(1);
      std::memset(block, 1, size_t{1} << 20);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: an allocation failed under the limit; 2: the limit could not be set";
}

TEST(HeapForRun, EveryThreadsBlocksComeFromTheOneHeapAskedForHugePages) {
  if (!jet::prepareHeapForRun()) {
    GTEST_SKIP() << "the heap is not readied in this build (not glibc on Linux, or a sanitizer's allocator)";
  }
  EXPECT_FALSE(jet::prepareHeapForRun()) << "a second call must change nothing";

  // Pages as the engine allocates them (4 MB of them, two huge pages' worth), a block of a megabyte (otherwise a
  // mapping of its own), and a page allocated on another thread (otherwise from an arena of that thread's own).
  const uint64_t fallbacksBefore = hugePageFallbacks();
  std::vector<std::unique_ptr<uint8_t[]>> pages;
  for (int i = 0; i < 1024; ++i) {
    pages.push_back(std::make_unique<uint8_t[]>(4096));
    pages.back()[0] = 1;
  }
  auto large = std::make_unique<uint8_t[]>(size_t{1} << 20);
  large[0] = 1;
  std::unique_ptr<uint8_t[]> fromThread;
  std::thread([&] { fromThread = std::make_unique<uint8_t[]>(4096); }).join();

  const std::string setting = hugePagesSetting();
  for (const void* block : {static_cast<const void*>(pages.back().get()), static_cast<const void*>(large.get()),
                            static_cast<const void*>(fromThread.get())}) {
    const std::optional<Mapping> mapping = mappingOf(block);
    ASSERT_TRUE(mapping.has_value());
    EXPECT_EQ(mapping->name, "[heap]");
    if (!setting.empty()) {
      EXPECT_NE(mapping->flags.find(" hg "), std::string::npos) << mapping->flags;
    }
  }
  // The 5 MB touched lie in three huge pages at least, unless the system had none to give. (A piece of the heap that
  // the C library's own bookkeeping touched before the advice keeps small pages for good: the first piece, where the
  // run's memory starts, is the one at risk.) The last page is surely cut from the top of the heap, in the advised
  // part; the first may have been a block the test framework freed.
  const std::optional<Mapping> heap = mappingOf(pages.back().get());
  ASSERT_TRUE(heap.has_value());
  if (setting != "never" && !setting.empty() && hugePageFallbacks() == fallbacksBefore) {
    EXPECT_GE(heap->hugeKib, 3u * 2048u);
  }
}

}  // namespace
