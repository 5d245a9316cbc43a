// The engine's door to Windows: reading the source beside other readers, the lock probe on Jet's byte ranges of the
// database and of its lock file, creating, writing, flushing and removing the destination; and a whole compaction
// through it.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jet/check/integrity_check.h"
#include "jet/compact/compact.h"
#include "jet/create/generator.h"
#include "jet/errors.h"
#include "jet/os/env.h"
#include "jet/read/database.h"
#include "jet/testing/compact_test_support.h"
#include "jet/testing/temp_folder.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using test_support::TempFolder;

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

void writeFile(const fs::path& file, const std::string& contents) { std::ofstream(file, std::ios::binary) << contents; }

template <class Operation>
int32_t numberOf(Operation&& operation) {
  try {
    operation();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

// Another program's handle on a file, opened as Jet opens a database (reading and writing, sharing both), with an
// exclusive lock on one byte, as Jet takes them.
class JetLikeHold {
 public:
  JetLikeHold(const fs::path& file, uint64_t lockedByte, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE)
      : handle_(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
    position_.Offset = static_cast<DWORD>(lockedByte);
    position_.OffsetHigh = static_cast<DWORD>(lockedByte >> 32);
    locked_ = handle_ != INVALID_HANDLE_VALUE &&
              LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &position_);
  }
  ~JetLikeHold() {
    if (locked_) UnlockFileEx(handle_, 0, 1, 0, &position_);
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool open() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool locked() const { return locked_; }

 private:
  HANDLE handle_;
  OVERLAPPED position_{};
  bool locked_ = false;
};

TEST(Win32Source, ReadsBesideOtherReadersAndReportsMissingFiles) {
  TempFolder tmp("jet-win32");
  const fs::path file = tmp.path() / fs::path(u8"\u010da\u0161a.mdb");  // a name outside the ANSI code page
  writeFile(file, "0123456789");
  auto source = Env::system().openSource(utf8(file));
  auto again = Env::system().openSource(utf8(file));
  EXPECT_EQ(source->size(), 10u);
  std::vector<uint8_t> bytes(4);
  again->read(3, bytes);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "3456");
  EXPECT_EQ(numberOf([&] { source->read(8, bytes); }), 3040);  // past the end

  EXPECT_EQ(numberOf([&] { Env::system().openSource(utf8(tmp.path() / "missing.mdb")); }), 3024);
  EXPECT_EQ(numberOf([&] { Env::system().openSource(utf8(tmp.path() / "no" / "missing.mdb")); }), 3024);
  EXPECT_EQ(numberOf([&] { Env::system().openSource(utf8(tmp.path())); }), 3051);
}

TEST(Win32Destination, IsCreatedExclusivelyWrittenAndRemovedOnlyWhileItIsOurs) {
  TempFolder tmp("jet-win32");
  const fs::path file = tmp.path() / "out.mdb";
  auto sink = Env::system().createDestination(utf8(file));
  const std::vector<uint8_t> page(4096, 0xAB);
  sink->write(4096, page);
  sink->write(0, page);
  sink->finish();
  EXPECT_EQ(fs::file_size(file), 8192u);
  EXPECT_EQ(numberOf([&] { Env::system().createDestination(utf8(file)); }), 3204);
  EXPECT_EQ(numberOf([&] { Env::system().createDestination(utf8(tmp.path() / "no" / "out.mdb")); }), 3044);

  sink->discard();  // after finish: the file at the path is still the one created
  EXPECT_FALSE(fs::exists(file));

  auto open = Env::system().createDestination(utf8(file));
  open->write(0, page);
  open->discard();  // still open
  EXPECT_FALSE(fs::exists(file));

  // Moved away, and another file put in its place: that one stays.
  auto replaced = Env::system().createDestination(utf8(file));
  replaced->finish();
  fs::rename(file, tmp.path() / "moved.mdb");
  writeFile(file, "somebody else's");
  replaced->discard();
  EXPECT_TRUE(fs::exists(file));
  EXPECT_TRUE(fs::exists(tmp.path() / "moved.mdb"));
}

TEST(Win32SourceLock, JetsLocksOnTheDatabaseOrItsLockFileKeepTheCompactionOut) {
  TempFolder tmp("jet-win32");
  const fs::path db = tmp.path() / "DATA.MDB";
  writeFile(db, std::string(4096, 'x'));
  EXPECT_EQ(lockFileName(utf8(tmp.path() / "DATA.MDB"), false), utf8(tmp.path() / "DATA.ldb"));
  EXPECT_EQ(lockFileName("C:\\a.b\\DATA", true), "C:\\a.b\\DATA.LDB");

  {
    JetLikeHold exclusive(db, 0x10000100);  // far past the data, as Jet locks
    ASSERT_TRUE(exclusive.locked());
    EXPECT_EQ(numberOf([&] { Env::system().lockSource(utf8(db)); }), 3356);
  }
  {
    JetLikeHold session(tmp.path() / "data.ldb", 0x10000001);  // a shared session's lock file
    ASSERT_TRUE(session.locked());
    EXPECT_EQ(numberOf([&] { Env::system().lockSource(utf8(db)); }), 3196);
  }
  {
    JetLikeHold closedOff(db, 0, 0);  // open without sharing
    ASSERT_TRUE(closedOff.open());
    EXPECT_EQ(numberOf([&] { Env::system().lockSource(utf8(db)); }), 3356);
  }
  fs::remove(tmp.path() / "data.ldb");
  EXPECT_EQ(numberOf([&] { Env::system().lockSource(utf8(tmp.path() / "missing.mdb")); }), 3024);

  // A lock file that nobody holds, and a second compaction's shared lock, keep nobody out; while the compaction
  // holds its lock, Jet cannot take its own.
  writeFile(tmp.path() / "DATA.LDB", "");
  auto first = Env::system().lockSource(utf8(db));
  auto second = Env::system().lockSource(utf8(db));
  JetLikeHold late(db, 0x10000100);
  EXPECT_TRUE(late.open());
  EXPECT_FALSE(late.locked());
}

TEST(Win32Env, TheQuestionsThePlatformLayerAsksToo) {
  TempFolder tmp("jet-win32");
  writeFile(tmp.path() / "Data.MDB", "x");
  // Čaša: letters beyond ASCII map as the system maps them.
  writeFile(tmp.path() / fs::path(u8"\u010ca\u0161a.ldb"), "x");
  Env& env = Env::system();
  EXPECT_EQ(env.findIgnoringCase(utf8(tmp.path()), "DATA.mdb"), std::vector<std::string>{"Data.MDB"});
  EXPECT_EQ(env.findIgnoringCase(utf8(tmp.path()), "\u010dA\u0160A.LDB"),
            std::vector<std::string>{"\u010ca\u0161a.ldb"});
  EXPECT_TRUE(env.findIgnoringCase(utf8(tmp.path() / "no"), "x").empty());

  const std::string db = utf8(tmp.path() / "Data.MDB");
  EXPECT_FALSE(env.lockedByOthers(db, LockProbe::any));
  {
    JetLikeHold held(tmp.path() / "Data.MDB", 0x7FFFFF00);
    ASSERT_TRUE(held.locked());
    EXPECT_TRUE(env.lockedByOthers(db, LockProbe::any));
    EXPECT_TRUE(env.lockedByOthers(db, LockProbe::exclusive));
  }
  {
    auto compaction = env.lockSource(db);  // a shared lock: only a probe for any lock sees it
    EXPECT_TRUE(env.lockedByOthers(db, LockProbe::any));
    EXPECT_FALSE(env.lockedByOthers(db, LockProbe::exclusive));
  }
  EXPECT_FALSE(env.lockedByOthers(utf8(tmp.path() / "missing.mdb"), LockProbe::any));

  env.flushFolder(utf8(tmp.path()));
  EXPECT_EQ(numberOf([&] { env.flushFolder(utf8(tmp.path() / "no")); }), 3024);
}

TEST(Win32Compaction, AGeneratedDatabaseCompactsToAnEquivalentCheckedFile) {
  TempFolder tmp("jet-win32");
  const fs::path source = tmp.path() / "gen.mdb";
  create::GeneratorOptions options;
  options.articles = 400;
  options.seed = 11;
  options.bloatPercent = 40;
  create::generateDatabase(utf8(source), options);
  const std::string before = compact_testing::fileDigest(source);

  const fs::path compacted = tmp.path() / "gen.mdn";
  CompactReport report = compactDatabase(utf8(source), utf8(compacted), ";LANGID=0x0424;CP=1250;COUNTRY=0");
  EXPECT_EQ(compact_testing::fileDigest(source), before);
  EXPECT_LT(report.destinationPages, report.sourcePages * 3 / 4);

  {
    auto original = Database::open(utf8(source));
    auto result = Database::open(utf8(compacted));
    CheckReport check = checkDatabase(*result);
    EXPECT_TRUE(check.clean(true)) << (check.problems.empty() ? "" : describeProblem(check.problems.front()));
    EXPECT_EQ(compact_testing::dumpTables(*result, false), compact_testing::dumpTables(*original, false));
  }

  // A destination that exists is refused and left alone; a source held by Jet is refused before anything is written.
  EXPECT_EQ(numberOf([&] { compactDatabase(utf8(source), utf8(compacted), ""); }), 3204);
  JetLikeHold held(source, 0x10000100);
  ASSERT_TRUE(held.locked());
  EXPECT_EQ(numberOf([&] { compactDatabase(utf8(source), utf8(tmp.path() / "other.mdn"), ""); }), 3356);
  EXPECT_FALSE(fs::exists(tmp.path() / "other.mdn"));
}

}  // namespace
}  // namespace jet
