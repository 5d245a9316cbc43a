// The C library's heap, readied for a run of the engine.
//
// A compaction or a dump keeps a few megabytes of buffers in use at once: the page caches of its readers, pages on
// their way to the disk, rows read ahead. All of it is fresh memory, which the system maps a 4 KB page at a time, at
// the first touch of each. On the virtual machines this was measured on, such a fault took about 11 µs, and the
// 1,200 of a 10 MB compaction were a third of its CPU time. So, once, before the work starts:
//   - the heap grows in steps of 64 MB of address space (memory is only taken where it is touched), and the system is
//     asked to back it with 2 MB pages where it can (transparent huge pages): one fault instead of 512;
//   - every thread allocates from that heap (one arena), and so do blocks of up to 32 MB, which would otherwise each
//     get a mapping of their own, mapped page by page and given back when freed;
//   - freed memory stays with the process until it ends, to be used again without faults.
// The price is that memory is taken in 2 MB pieces: a run's peak grows by 2 MB or so.
#pragma once

namespace jet {

// Call first thing in main, before any other thread starts; later calls do nothing. Returns false where nothing was
// changed: other C libraries, builds with sanitizers (whose allocators replace the C library's), Windows, and a limit
// on the process's data or address space below 128 MB (the steps are a sixteenth of such a limit at most).
bool prepareHeapForRun();

}  // namespace jet
