#include "jet/compact/compact.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <new>
#include <system_error>
#include <thread>

#include "jet/read/catalog.h"
#include "jet/compact/indexes.h"
#include "jet/compact/locale.h"
#include "jet/pager/page_writer.h"
#include "jet/compact/plan.h"
#include "jet/compact/rows.h"
#include "jet/compact/table_defs.h"
#include "jet/compact/verify.h"
#include "jet/read/database.h"
#include "jet/check/integrity_check.h"
#include "jet/pager/page_reader.h"
#include "jet/os/page_source.h"
#include "jet/format/usage_map_builder.h"
#include "jet/compact/lost_rows.h"

namespace jet {
namespace {

// The table's free-space map lists the pages new rows may go to: only the last page of each kind can have room.
std::vector<uint32_t> lastOf(const std::vector<uint32_t>& pages) {
  if (pages.empty()) return {};
  return {pages.back()};
}

CompactReport writeDestination(PageReader& source, const CompactPlan& plan, PageSink& sink,
                               const CompactOptions& options) {
  const Format& f = source.format();
  CompactReport report;
  PageWriter writer(sink, f, source.header().encodingKey);
  PageAllocator allocator(plan.firstDataPage);
  UsageMapStore maps(f, allocator, writer);

  PageHandle header = source.page(0);
  writer.write(0, *header);

  for (size_t i = 0; i < plan.tables.size(); ++i) {
    const TablePlan& t = plan.tables[i];
    if (options.progress) options.progress(t.name, i, plan.tables.size());
    CopiedTable copied = copyTableRows(source, plan, t, allocator, writer);
    DefinitionPatch patch;
    patch.rowCount = static_cast<uint32_t>(copied.rows.size());
    for (size_t k = 0; k < t.def.realIndexes.size(); ++k) {
      RebuiltIndex ix = rebuildIndex(source, plan, t, copied, k, allocator, writer);
      report.indexEntries += ix.entries;
      DefinitionPatch::Index p;
      p.rootPage = ix.rootPage;
      p.keyCount = static_cast<uint32_t>(ix.distinctKeys);
      if (!t.def.realIndexes[k].usageMap.at.isNull()) p.map = maps.add(ix.pages);
      patch.indexes.push_back(p);
    }
    if (!t.def.ownedPages.at.isNull()) patch.ownedMap = maps.add(copied.dataPages);
    if (!t.def.freeSpacePages.at.isNull()) patch.freeMap = maps.add(lastOf(copied.dataPages));
    for (size_t k = 0; k < t.def.longValueMaps.size(); ++k) {
      const LongValueMaps& m = t.def.longValueMaps[k];
      DefinitionPatch::LongValue lv;
      if (!m.owned.at.isNull()) lv.owned = maps.add(copied.longValuePages[k]);
      if (!m.free.at.isNull()) lv.free = maps.add(lastOf(copied.longValuePages[k]));
      patch.longValues.push_back(lv);
    }
    writeDefinition(f, t, patchDefinition(f, plan, t, patch), writer);
    report.rows += copied.rows.size();
    report.droppedRows += copied.dropped.size();
    report.longValues += copied.longValues;
  }
  maps.finish();
  writeFreePageMap(f, allocator, writer);
  report.destinationPages = allocator.next();
  report.tables = plan.tables.size();
  return report;
}

// Runs a job on a thread of its own, or at finish() when no thread can be had. Whatever the job throws is thrown
// again by finish(); a job that finish() does not collect (the caller failed first) is waited for and its outcome
// dropped.
class BesideThread {
 public:
  explicit BesideThread(std::function<void()> job) : job_(std::move(job)) {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // No thread: the job runs in finish().
    }
  }
  ~BesideThread() {
    if (thread_.joinable()) thread_.join();
  }
  BesideThread(const BesideThread&) = delete;
  BesideThread& operator=(const BesideThread&) = delete;

  void finish() {
    if (thread_.joinable()) {
      thread_.join();
    } else {
      run();
    }
    if (error_) std::rethrow_exception(error_);
  }

 private:
  void run() {
    try {
      job_();
    } catch (...) {
      error_ = std::current_exception();
    }
  }

  std::function<void()> job_;
  std::exception_ptr error_;
  std::thread thread_;
};

// The destination must pass the full integrity check without even a warning: its counters are all fresh.
void checkWritten(Env& env, const std::string& destination, size_t cachePages) {
  Database written(env.openSource(destination), cachePages);
  CheckReport check = checkDatabase(written);
  if (check.clean(true)) return;
  for (const Problem& p : check.problems) corrupt("the compacted database fails its check: " + describeProblem(p));
}

}  // namespace

CompactReport compactDatabase(const std::string& sourcePath, const std::string& destination, const std::string& locale,
                              const CompactOptions& options) {
  CompactLocale requested = parseCompactLocale(locale);
  Env& env = options.env != nullptr ? *options.env : Env::system();
  std::unique_ptr<FileLock> lock = env.lockSource(sourcePath);
  PageReader source(env.openSource(sourcePath), options.cachePages);
  if (source.hasPartialPage()) corrupt(sourcePath + ": the file does not end on a page boundary");
  CompactPlan plan;
  try {
    Catalog catalog = readCatalog(source);
    plan = planCompaction(source, catalog);
    // The copy reaches rows through the tables' page maps only: rows they do not reach must stop it before the
    // destination exists.
    LostRowsCheck::run(source, plan);
  } catch (const Error& e) {
    fail(e.code(), sourcePath + ": " + e.what());
  }

  // Written under a hidden name and given the destination's name only once complete, verified and flushed: an
  // interrupted run leaves nothing under that name, and the next run removes what it left.
  env.removeLeftovers(destination, sourcePath);
  std::unique_ptr<PageSink> sink = env.createHiddenDestination(destination);
  const std::string written = sink->name();
  try {
    CompactReport report = writeDestination(source, plan, *sink, options);
    sink->finish();
    if (options.verify) {
      // The integrity check reads the destination on its own, so it runs beside the comparison with the source.
      // The comparison's verdict comes first, as if the two ran one after the other.
      BesideThread check([&] { checkWritten(env, written, options.cachePages); });
      PageReader copy(env.openSource(written), options.cachePages);
      if (copy.pageCount() != report.destinationPages || copy.hasPartialPage()) {
        corrupt("the compacted database does not have the size it was written with");
      }
      PageHandle a = source.page(0);
      PageHandle b = copy.page(0);
      if (*a != *b) corrupt("the compacted database's header page differs from the source's");
      readCatalog(copy);
      verifyCompaction(source, copy, plan);
      check.finish();
    }
    env.publishDestination(written, destination, options.keepHiddenName);
    report.sourcePages = source.pageCount();
    report.requestedSortOrder = requested.langId.value_or(0);
    report.sortOrder = source.header().sortOrder;
    return report;
  } catch (const Error& e) {
    sink->discard();
    // The builders refuse what cannot be laid out (a row or key larger than a page): once the arguments have been
    // checked, only a damaged source leads there.
    if (e.code() == ErrorCode::InvalidArgument) fail(ErrorCode::Corrupt, sourcePath + ": " + e.what());
    if (e.code() == ErrorCode::Corrupt || e.code() == ErrorCode::DiskIoRead) {
      fail(e.code(), sourcePath + ": " + e.what());
    }
    throw;
  } catch (const std::bad_alloc&) {
    sink->discard();
    fail(ErrorCode::OutOfMemory, sourcePath + ": out of memory");
  } catch (...) {
    sink->discard();
    throw;
  }
}

}  // namespace jet
