#include "jet/os/heap.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "jet/os/posix/sanitized_allocator.h"

#if defined(__GLIBC__) && defined(__linux__) && !defined(JET_SANITIZED_ALLOCATOR)
#define JET_TUNE_GLIBC_HEAP 1
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace jet {
#ifdef JET_TUNE_GLIBC_HEAP
namespace {

// The limit on the process's data or address space, whichever is less; none: the largest number.
uintptr_t memoryLimit() {
  uintptr_t least = UINTPTR_MAX;
  for (const int resource : {RLIMIT_DATA, RLIMIT_AS}) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < least) {
      least = static_cast<uintptr_t>(limit.rlim_cur);
    }
  }
  return least;
}

}  // namespace
#endif

bool prepareHeapForRun() {
#ifdef JET_TUNE_GLIBC_HEAP
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return false;

  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  // Address space the heap takes at a time counts against a limit on the process's memory as if it were used: the
  // step stays a sixteenth of such a limit, so that a run that fitted still fits, and below a few huge pages the heap
  // is left as it is.
  const int step = static_cast<int>(std::min<uintptr_t>(uintptr_t{64} << 20, memoryLimit() / 16) & ~(kHugePage - 1));
  if (step < static_cast<int>(4 * kHugePage)) return false;
  // One arena: the threads of a run hand pages to each other, and a second arena would be fresh memory again.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 4 * step);  // never below the step, or a free would give it back at once
  mallopt(M_TOP_PAD, step);

  // A block larger than the heap's room at start is cut from its top, which grows for it by the step: where the block
  // starts is where the run's memory will come from, and the break is where the step ends. Cutting it writes the
  // header of the rest just past its end: a 2 MB piece with a small page in it already stays in small pages, so the
  // huge pages start at the first boundary past that.
  constexpr size_t kProbe = 256 << 10;
  constexpr int kDefaultTopPad = 128 << 10;  // glibc's own
  void* probe = std::malloc(kProbe);
  if (probe == nullptr) {
    mallopt(M_TOP_PAD, kDefaultTopPad);  // the step itself did not fit: grow as the C library would
    return true;
  }
  const auto top = reinterpret_cast<uintptr_t>(probe);
  const auto end = reinterpret_cast<uintptr_t>(::sbrk(0));
  std::free(probe);
  // Where the heap could not grow, the C library maps memory elsewhere instead: the steps then do without the advice.
  if (end <= top || end - top > 2 * static_cast<uintptr_t>(step)) return true;
  const uintptr_t touched = top + kProbe + 64;
  const uintptr_t first = (touched + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = end & ~(kHugePage - 1);
  if (last <= first) return true;
  if (::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) != 0) return true;  // no huge pages here
  // The memory below that boundary is taken once, by a block that is never used, so that the run's blocks start on
  // it. Untouched, it costs no memory. The pointer is kept (volatile, so that the compiler keeps the allocation) and
  // reachable, for leak checkers.
  static void* volatile belowFirstHugePage = nullptr;
  constexpr uintptr_t kChunkOverhead = 2 * sizeof(size_t);
  belowFirstHugePage = std::malloc(first - top - kChunkOverhead);
  (void)belowFirstHugePage;
  return true;
#else
  return false;
#endif
}

}  // namespace jet
