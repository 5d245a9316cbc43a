#include "jet/compact/compact.h"

#include <algorithm>
#include <exception>
#include <new>
#include <optional>
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
#include "jet/compact/read_back.h"
#include "jet/check/check_while_writing.h"
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

// What the read-back is compared with: the header page as written, and per table what the copy recorded.
struct Written {
  std::vector<uint8_t> header;
  std::vector<TableRecord> tables;
};

// With a feed, the read-back is told of each table's data pages and indexes as they are handed to the sink. The
// records are all in place before the read-back starts: it reads record i once the feed has reported table i's part.
CompactReport writeDestination(PageReader& source, const CompactPlan& plan, PageSink& sink,
                               const CompactOptions& options, Written& written, WriterFeed* feed) {
  const Format& f = source.format();
  CompactReport report;
  PageWriter writer(sink, f, source.header().encodingKey);
  PageAllocator allocator(plan.firstDataPage);
  UsageMapStore maps(f, allocator, writer);

  PageHandle header = source.page(0);
  written.header = *header;
  writer.write(0, *header);

  for (size_t i = 0; i < plan.tables.size(); ++i) {
    const TablePlan& t = plan.tables[i];
    if (options.progress) options.progress(t.name, i, plan.tables.size());
    std::function<void(uint32_t)> onDataPage;
    if (feed != nullptr) onDataPage = [&](uint32_t page) { feed->dataPage(i, page, allocator.next()); };
    CopiedTable copied = copyTableRows(source, plan, t, allocator, writer, onDataPage);
    TableRecord& record = written.tables[i];
    record.indexes.resize(t.def.realIndexes.size());  // in place before the read-back looks at any of them
    record.rows = std::move(copied.rowBlocks);
    record.rowsDigest = copied.rowsDigest;
    if (feed != nullptr) feed->rowsDone(i, allocator.next());
    DefinitionPatch patch;
    patch.rowCount = static_cast<uint32_t>(copied.rows.size());
    for (size_t k = 0; k < t.def.realIndexes.size(); ++k) {
      RebuiltIndex ix = rebuildIndex(source, plan, t, copied, k, allocator, writer);
      report.indexEntries += ix.entries;
      record.indexes[k] = {ix.entries, ix.distinctKeys, ix.entryDigest};
      if (feed != nullptr) feed->indexDone(i, static_cast<uint32_t>(k), ix.rootPage, allocator.next());
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

// The destination as a whole must be what was written: its size, its version and its header page.
void checkFrame(Database& db, const PageReader& source, const Written& written, uint32_t pages) {
  PageReader& back = db.pages();
  if (back.pageCount() != pages || back.hasPartialPage()) {
    corrupt("the compacted database does not have the size it was written with");
  }
  if (back.format().version != source.format().version) corrupt("the compacted database has another version");
  PageHandle header = back.page(0);
  if (*header != written.header) corrupt("the compacted database's header page differs from the source's");
}

// The destination must pass the check without even a warning (its counters are all fresh); the comparison's verdict
// comes first.
void judge(const CheckReport& check, CompactionComparison& comparison) {
  comparison.finish();
  if (check.clean(true)) return;
  for (const Problem& p : check.problems) corrupt("the compacted database fails its check: " + describeProblem(p));
}

// Reads the destination back once it is written: the integrity check decodes every page, and the comparison with what
// the copy recorded sees every row, long value and index entry as the check decodes it.
void verifyWritten(Env& env, const std::string& destination, const PageReader& source, const CompactPlan& plan,
                   const Written& written, uint32_t pages, size_t cachePages) {
  Database db(env.openSource(destination), cachePages);
  checkFrame(db, source, written, pages);
  CompactionComparison comparison(source.format(), plan, written.tables);
  CheckOptions options;
  options.observer = &comparison;
  judge(checkDatabase(db, options), comparison);
}

// The same read-back while the destination is written, on a thread of its own, so that it costs the other core's
// time rather than time after the writing: each table's rows and indexes are decoded and compared as their pages
// reach the file, the rest once it is complete. It needs a sink that tells which bytes are in the file.
class ReadBackBeside {
 public:
  static constexpr size_t kReadBackCachePages = 64;

  // `mostRows[i]`: as many rows as the plan's table i can have (its map's pages hold 255 each).
  ReadBackBeside(Env& env, const PageReader& source, const CompactPlan& plan, const Written& written, size_t cachePages,
                 std::vector<uint64_t> mostRows)
      : env_(env),
        source_(source),
        plan_(plan),
        written_(written),
        cachePages_(cachePages),
        mostRows_(std::move(mostRows)),
        pages_(source.pageSize()),
        feed_(plan.tables.size(), pages_) {
    pages_.allocated(plan.firstDataPage);
  }
  ~ReadBackBeside() { abandon(); }
  ReadBackBeside(const ReadBackBeside&) = delete;
  ReadBackBeside& operator=(const ReadBackBeside&) = delete;

  // Starts reading `destination` back as `sink` writes it; false when the sink cannot tell what it wrote or no
  // thread can be started (the read-back then follows the writing).
  bool start(PageSink& sink) {
    if (!sink.observeWritten([this](uint64_t offset, uint64_t length) { pages_.written(offset, length); })) {
      return false;
    }
    try {
      thread_ = std::thread([this, name = sink.name()] { run(name); });
    } catch (const std::system_error&) {
      pages_.release();  // the sink goes on telling; nobody waits
      return false;
    }
    return true;
  }
  WriterFeed* feed() { return thread_.joinable() ? &feed_ : nullptr; }  // null unless started

  // Everything is in the file: the read-back finishes, and its failure is thrown here.
  void allWritten(uint32_t pages) {
    finalPages_ = pages;  // before the feed's lock, which orders it before the read-back's use
    pages_.allocated(pages);
    pages_.release();
    feed_.allWritten();
  }
  void wait() {
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }
  // The writing failed: the read-back is let go, waited for and forgotten.
  void abandon() noexcept {
    if (!thread_.joinable()) return;
    feed_.giveUp();
    pages_.release();
    thread_.join();
  }

 private:
  void run(const std::string& destination) {
    try {
      CompactionComparison comparison(source_.format(), plan_, written_.tables);
      CheckOptions options;
      options.observer = &comparison;
      const uint32_t pageSize = source_.pageSize();
      // Pages are read back in runs, as they were written: a small cache does, and leaves the memory to the writer.
      PageReader growing(std::make_unique<GatedSource>(env_.openSource(destination), pages_, pageSize),
                         std::min<size_t>(cachePages_, kReadBackCachePages));
      // A compacted file is rarely larger than its source.
      CheckWhileWriting check(growing, options, source_.pageCount());
      for (size_t i = 0; i < plan_.tables.size(); ++i) {
        const TablePlan& t = plan_.tables[i];
        TableDef expected = t.def;
        expected.page = t.newPage;
        check.table(t.name, t.newPage, expected, feed_.table(i), mostRows_[i]);
      }
      feed_.waitAllWritten();
      Database complete(env_.openSource(destination), cachePages_);
      checkFrame(complete, source_, written_, finalPages_);
      CheckReport report = check.finish(complete);
      if (std::optional<uint32_t> page = pages_.writtenTwice()) {
        corrupt("page " + std::to_string(*page) + " of the compacted database was written twice");
      }
      judge(report, comparison);
    } catch (...) {
      failure_ = std::current_exception();
    }
  }

  Env& env_;
  const PageReader& source_;
  const CompactPlan& plan_;
  const Written& written_;
  const size_t cachePages_;
  const std::vector<uint64_t> mostRows_;
  WrittenPages pages_;
  WriterFeed feed_;
  uint32_t finalPages_ = 0;
  std::thread thread_;
  std::exception_ptr failure_;
};

}  // namespace

CompactReport compactDatabase(const std::string& sourcePath, const std::string& destination, const std::string& locale,
                              const CompactOptions& options) {
  CompactLocale requested = parseCompactLocale(locale);
  Env& env = options.env != nullptr ? *options.env : Env::system();
  std::unique_ptr<FileLock> lock = env.lockSource(sourcePath);
  PageReader source(env.openSource(sourcePath), options.cachePages);
  if (source.hasPartialPage()) corrupt(sourcePath + ": the file does not end on a page boundary");
  source.hintWholeFile();  // every page is read, by the copy or by the judgement below
  CompactPlan plan;
  std::unique_ptr<LostRowsCheck> lost;
  try {
    Catalog catalog = readCatalog(source);
    plan = planCompaction(source, catalog);
    lost = std::make_unique<LostRowsCheck>(source, plan);
  } catch (const Error& e) {
    fail(e.code(), sourcePath + ": " + e.what());
  }
  // The copy reaches rows through the tables' page maps only, so every page of the source is looked at for rows it
  // would not carry. The copy reads most pages anyway: the check sees them as they are loaded, and the pages the copy
  // does not need (free pages, dropped tables, what the plan read before) are read once the copy is done. Its verdict
  // comes before any other, even before an error of the copy that lost rows may have caused.
  std::vector<bool> judged(source.pageCount(), false);
  source.observeLoads([&](uint32_t n, Bytes bytes) {
    if (n == 0 || judged[n]) return;
    judged[n] = true;
    lost->page(n, bytes);
  });
  auto judgeSource = [&] {
    for (uint32_t p = 1; p < source.pageCount(); ++p) {
      if (judged[p]) continue;
      judged[p] = true;
      PageHandle h = source.page(p);
      lost->page(p, *h);
    }
    source.observeLoads({});
    lost->finish();
  };

  // Written under a hidden name and given the destination's name only once complete, verified and flushed: an
  // interrupted run leaves nothing under that name, and the next run removes what it left.
  env.removeLeftovers(destination, sourcePath);
  Written recorded;
  recorded.tables.resize(plan.tables.size());
  // Declared before the sink, which tells it what it wrote until the sink is gone.
  std::optional<ReadBackBeside> beside;
  if (options.verify) {
    std::vector<uint64_t> mostRows(plan.tables.size());
    for (size_t i = 0; i < plan.tables.size(); ++i)
      mostRows[i] = lost->mappedPages(i) * source.format().maxRowsPerPage();
    beside.emplace(env, source, plan, recorded, options.cachePages, std::move(mostRows));
  }
  std::unique_ptr<PageSink> sink = env.createHiddenDestination(destination);
  const std::string written = sink->name();
  try {
    const bool readingBeside = beside && beside->start(*sink);
    CompactReport report;
    try {
      report = writeDestination(source, plan, *sink, options, recorded, beside ? beside->feed() : nullptr);
    } catch (const Error&) {
      if (beside) beside->abandon();
      judgeSource();
      throw;
    }
    if (options.verify) {
      // The flush waits for the disk while the read-back works from the page cache: on another thread, where the
      // sink allows reading the file while it is flushed. A failure of the flush is reported before one of the
      // read-back, as when one followed the other.
      bool behind = false;
      try {
        behind = sink->writeOut();
      } catch (const Error&) {
        if (beside) beside->abandon();
        judgeSource();
        throw;
      }
      if (readingBeside) beside->allWritten(report.destinationPages);
      std::exception_ptr flushFailure;
      std::thread flusher;
      if (behind) {
        try {
          flusher = std::thread([&] {
            try {
              sink->finish();
            } catch (...) {
              flushFailure = std::current_exception();
            }
          });
        } catch (const std::system_error&) {
          behind = false;
        }
      }
      // The pages the copy did not need are judged while the read-back finishes and the disk flushes; the verdict
      // still comes before their failures.
      try {
        judgeSource();
      } catch (...) {
        if (flusher.joinable()) flusher.join();
        throw;
      }
      if (!behind) sink->finish();
      std::exception_ptr verifyFailure;
      try {
        if (readingBeside) {
          beside->wait();
        } else {
          verifyWritten(env, written, source, plan, recorded, report.destinationPages, options.cachePages);
        }
      } catch (...) {
        verifyFailure = std::current_exception();
      }
      if (flusher.joinable()) flusher.join();
      if (flushFailure) std::rethrow_exception(flushFailure);
      if (verifyFailure) std::rethrow_exception(verifyFailure);
    } else {
      judgeSource();
      sink->finish();
    }
    env.publishDestination(written, destination, options.keepHiddenName);
    report.sourcePages = source.pageCount();
    report.leftBehindRows = lost->leftBehindRows();
    report.requestedSortOrder = requested.langId.value_or(0);
    report.sortOrder = source.header().sortOrder;
    return report;
  } catch (const Error& e) {
    if (beside) beside->abandon();
    sink->discard();
    // The builders refuse what cannot be laid out (a row or key larger than a page): once the arguments have been
    // checked, only a damaged source leads there.
    if (e.code() == ErrorCode::InvalidArgument) fail(ErrorCode::Corrupt, sourcePath + ": " + e.what());
    if (e.code() == ErrorCode::Corrupt || e.code() == ErrorCode::DiskIoRead) {
      fail(e.code(), sourcePath + ": " + e.what());
    }
    throw;
  } catch (const std::bad_alloc&) {
    if (beside) beside->abandon();
    sink->discard();
    fail(ErrorCode::OutOfMemory, sourcePath + ": out of memory");
  } catch (...) {
    if (beside) beside->abandon();
    sink->discard();
    throw;
  }
}

}  // namespace jet
