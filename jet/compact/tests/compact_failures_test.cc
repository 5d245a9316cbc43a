// Failures of a compaction: each is a numbered error, the source is never changed, a destination that existed
// before is left alone, and a destination the compaction created is removed again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "jet/testing/compact_test_support.h"
#include "jet/compact/compact.h"
#include "jet/os/env.h"
#include "jet/os/posix/posix_env.h"
#include "jet/os/testing/fault_env.h"
#include "jet/read/table_scan.h"
#include "jet/testing/reader_test_support.h"
#include "jet/testing/generated_database.h"

namespace jet {
namespace {

using namespace reader_testing;
using namespace compact_testing;
namespace fs = std::filesystem;

int32_t errorOf(const fs::path& source, const fs::path& destination, const std::string& locale = "",
                const CompactOptions& options = {}) {
  try {
    compactDatabase(source, destination, locale, options);
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

fs::path sample(const char* name) { return samplesDir() / name; }
// A sound database, where any one will do.
const fs::path& someDatabase() { return generatedDatabasePath(); }

TEST(CompactFailures, ExistingDestinationIsLeftAsItWas) {
  TempDir tmp;
  const fs::path out = tmp.path() / "DATA.MDN";
  writeFile(out, {'k', 'e', 'e', 'p'});
  const std::string before = fileDigest(someDatabase());
  EXPECT_EQ(errorOf(someDatabase(), out), 3204);
  EXPECT_EQ(readFile(out), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(fileDigest(someDatabase()), before);
  // Compacting a file onto itself is the same case.
  const fs::path self = tmp.path() / "self.mdb";
  writeFile(self, generatedDatabase());
  const std::string selfBefore = fileDigest(self);
  EXPECT_EQ(errorOf(self, self), 3204);
  EXPECT_EQ(fileDigest(self), selfBefore);
}

TEST(CompactFailures, UnusableSourcesFailWithTheirNumbersAndLeaveNoDestination) {
  TempDir tmp;
  const fs::path out = tmp.path() / "out.mdb";
  EXPECT_EQ(errorOf(tmp.path() / "missing.mdb", out), 3024);
  const fs::path text = tmp.path() / "text.mdb";
  writeFile(text, std::vector<uint8_t>(5000, 'x'));
  EXPECT_EQ(errorOf(text, out), 3343);
  const fs::path empty = tmp.path() / "empty.mdb";
  writeFile(empty, {});
  EXPECT_EQ(errorOf(empty, out), 3343);
  const std::vector<uint8_t>& bytes = generatedDatabase();
  const fs::path truncated = tmp.path() / "truncated.mdb";
  writeFile(truncated, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10 * 4096));
  EXPECT_EQ(errorOf(truncated, out), 3049);
  writeFile(truncated, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20 * 4096 + 100));
  EXPECT_EQ(errorOf(truncated, out), 3049);
  EXPECT_EQ(errorOf(someDatabase(), tmp.path() / "no-such-folder" / "out.mdb"), 3044);
  EXPECT_FALSE(fs::exists(out));
}

TEST(CompactFailures, MalformedLocalesAreRejectedBeforeAnythingIsWritten) {
  TempDir tmp;
  const fs::path out = tmp.path() / "out.mdb";
  for (const char* bad : {"LANGID=0x0424", ";LANGID=0x0424;;CP=1250", ";LANGID=0xZZ", ";LANGID=0x0424;LANGID=0x0409",
                          ";PWD=secret", ";CP=", ";COUNTRY=70000", ";LANGID"}) {
    EXPECT_EQ(errorOf(someDatabase(), out, bad), 3001) << bad;
  }
  EXPECT_FALSE(fs::exists(out));
  for (const char* good : {"", ";LANGID=0x0424;CP=1250;COUNTRY=0", ";country=0;cp=1250;langid=1060;"}) {
    EXPECT_EQ(errorOf(someDatabase(), out, good), 0) << good;
    fs::remove(out);
  }
}

// Write failures at every stage of writing: the error keeps its number and the partial destination is removed.
TEST(CompactFailures, WriteFailuresRemoveThePartialDestination) {
  TempDir tmp;
  const fs::path out = tmp.path() / "out.mdb";
  for (uint64_t after : {0u, 1u, 5u, 20u, 44u}) {
    for (ErrorCode code : {ErrorCode::DiskFull, ErrorCode::DiskIoWrite}) {
      os_testing::FaultEnv env;
      env.failWritesAfter(after, code);
      CompactOptions options;
      options.env = &env;
      EXPECT_EQ(errorOf(someDatabase(), out, "", options), static_cast<int32_t>(code)) << after;
      EXPECT_FALSE(fs::exists(out)) << after;
    }
  }
  EXPECT_EQ(posix::writeErrorFor(ENOSPC), ErrorCode::DiskFull);
  EXPECT_EQ(posix::writeErrorFor(EDQUOT), ErrorCode::DiskFull);
  EXPECT_EQ(posix::writeErrorFor(EIO), ErrorCode::DiskIoWrite);
}

// Failures of the system below the reads, the lock and the creation of the destination: each keeps its number, and
// nothing is left behind. Reads fail at every stage: the source's header, its catalog, the copy, the last look at the
// source's pages, and the read-back of the destination.
TEST(CompactFailures, SystemFailuresKeepTheirNumbersAndLeaveNothingBehind) {
  TempDir tmp;
  const fs::path out = tmp.path() / "out.mdb";
  const fs::path source = someDatabase();
  // The source's reads are the same from run to run; the read-back's depend on how far the writer has got.
  auto ofSource = [&source](const std::string& name) { return name == source.string(); };
  os_testing::FaultEnv counting;
  counting.countReadsOf(ofSource);
  CompactOptions options;
  options.env = &counting;
  ASSERT_EQ(errorOf(source, out, "", options), 0);
  const uint64_t reads = counting.reads();
  ASSERT_GT(reads, 4u);
  fs::remove(out);
  for (uint64_t after : {uint64_t{0}, uint64_t{1}, reads / 3, reads / 2, reads - 1}) {
    os_testing::FaultEnv env;
    env.countReadsOf(ofSource);
    env.failReadsAfter(after);
    options.env = &env;
    EXPECT_EQ(errorOf(source, out, "", options), 3040) << after;
    EXPECT_FALSE(fs::exists(out)) << after;
  }
  for (uint64_t after : {uint64_t{0}, uint64_t{2}}) {
    os_testing::FaultEnv env;
    env.countReadsOf([&ofSource](const std::string& name) { return !ofSource(name); });
    env.failReadsAfter(after);
    options.env = &env;
    EXPECT_EQ(errorOf(source, out, "", options), 3040) << "read-back, after " << after;
    EXPECT_FALSE(fs::exists(out)) << "read-back, after " << after;
  }
  for (ErrorCode code : {ErrorCode::FileNotFound, ErrorCode::CannotOpen}) {
    os_testing::FaultEnv env;
    env.failOpen(code);
    options.env = &env;
    EXPECT_EQ(errorOf(source, out, "", options), static_cast<int32_t>(code));
    EXPECT_TRUE(env.created().empty());
  }
  for (ErrorCode code : {ErrorCode::InUse, ErrorCode::OpenedExclusively}) {
    os_testing::FaultEnv env;
    env.failLock(code);
    options.env = &env;
    EXPECT_EQ(errorOf(source, out, "", options), static_cast<int32_t>(code));
    EXPECT_TRUE(env.created().empty());
  }
  os_testing::FaultEnv full;
  full.failCreate(ErrorCode::DiskFull);
  options.env = &full;
  EXPECT_EQ(errorOf(source, out, "", options), 3026);
  EXPECT_FALSE(fs::exists(out));
}

// The destination removes only the file it created: one put in its place meanwhile stays.
TEST(CompactFailures, DiscardLeavesAFileThatReplacedTheDestination) {
  TempDir tmp;
  const fs::path out = tmp.path() / "out.mdb";
  std::unique_ptr<PageSink> sink = Env::system().createDestination(out);
  fs::remove(out);
  writeFile(out, {'n', 'e', 'w'});
  sink->discard();
  EXPECT_TRUE(fs::exists(out));
}

// Damaged sources: random bytes overwritten in a generated database and, where the samples are, in a Jet 3 one. Each
// run either compacts to a file that passes the self-check or fails with a numbered error and leaves nothing behind;
// nothing crashes (the tests run under the sanitizers).
TEST(CompactFailures, RandomDamageFailsCleanly) {
  TempDir tmp;
  const fs::path in = tmp.path() / "damaged.mdb";
  const fs::path out = tmp.path() / "out.mdb";
  std::mt19937 random(20261208);
  int failures = 0;
  std::vector<std::vector<uint8_t>> originals{generatedDatabase()};
  if (!samplesDir().empty()) originals.push_back(readFile(sample("jet3/testV1997.mdb")));
  for (const std::vector<uint8_t>& original : originals) {
    for (int round = 0; round < 60; ++round) {
      std::vector<uint8_t> bytes = original;
      const size_t pageSize = original[0x14] == 0 ? 2048 : 4096;
      // Hit the pages that matter (definitions, maps, indexes, rows of the first tables) more often than the rest.
      std::uniform_int_distribution<size_t> page(1, std::min<size_t>(bytes.size() / pageSize - 1, 40));
      std::uniform_int_distribution<size_t> at(0, pageSize - 1);
      std::uniform_int_distribution<int> value(0, 255);
      for (int k = 0; k < 4; ++k) bytes[page(random) * pageSize + at(random)] = static_cast<uint8_t>(value(random));
      fs::remove(in);
      writeFile(in, bytes);
      int32_t number = errorOf(in, out);
      if (number == 0) {
        fs::remove(out);
      } else {
        ++failures;
        EXPECT_TRUE(number == 3049 || number == 3343) << number;
        EXPECT_FALSE(fs::exists(out));
      }
    }
  }
  EXPECT_GT(failures, 0);
}

// A row deleted behind its indexes' back: the indexes still point at it. Copying such an index would carry the damage
// over (or, repaired by guessing, lose the entry), so the compaction refuses with 3049 naming the table.
TEST(CompactFailures, IndexesThatDisagreeWithTheRowsAreDamage) {
  TempDir tmp;
  std::vector<uint8_t> bytes = generatedDatabase();
  RowLocation home;
  {
    Database db(std::make_unique<MemorySource>("copy", bytes));
    TableDef def = db.tableDef("Artikli");
    TableScan scan(db.pages(), def);
    RowRecord rec;
    ASSERT_TRUE(scan.next(rec));
    home = rec.home;
  }
  const Format& f = kJet4Format;
  bytes[size_t{home.page} * f.pageSize + f.rowOffsetTable() + 2u * home.row + 1] |= 0x80;  // the deleted flag
  const fs::path in = tmp.path() / "damaged.mdb";
  const fs::path out = tmp.path() / "out.mdb";
  writeFile(in, bytes);
  try {
    compactDatabase(in, out, "");
    ADD_FAILURE() << "compacted a database whose index points at a deleted row";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3049);
    EXPECT_NE(std::string(e.what()).find("Artikli"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(out));
}

// A child process that holds record locks the way Jet (also under Wine) holds them, until told to stop.
class LockHolder {
 public:
  LockHolder(const fs::path& file, off_t start, off_t length) {
    int ready[2];
    int stop[2];
    if (::pipe(ready) != 0 || ::pipe(stop) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      int fd = ::open(file.c_str(), O_RDWR);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      lock.l_start = start;
      lock.l_len = length;
      char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? '1' : '0';
      if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
      char c;
      if (::read(stop[0], &c, 1) < 0) ::_exit(1);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(stop[0]);
    stop_ = stop[1];
    char ok = '0';
    locked_ = ::read(ready[0], &ok, 1) == 1 && ok == '1';
    ::close(ready[0]);
  }
  ~LockHolder() {
    if (pid_ <= 0) return;
    char c = 'x';
    if (::write(stop_, &c, 1) != 1) ::kill(pid_, SIGKILL);
    ::close(stop_);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int stop_ = -1;
  bool locked_ = false;
};

TEST(CompactFailures, DatabasesInUseAreRefusedBeforeAnythingIsWritten) {
  TempDir tmp;
  const fs::path db = tmp.path() / "DATA.MDB";
  const fs::path out = tmp.path() / "DATA.MDN";
  writeFile(db, generatedDatabase());
  EXPECT_EQ(lockFileName(db, false), (tmp.path() / "DATA.ldb").string());
  {
    // An exclusive session: Jet's locks on the database itself, at the high offsets it uses, and no lock file.
    LockHolder holder(db, 0x10000000, 256);
    ASSERT_TRUE(holder.locked());
    EXPECT_EQ(errorOf(db, out), 3356);
    EXPECT_FALSE(fs::exists(out));
  }
  {
    // A shared session: users' locks in the lock file.
    const fs::path ldb = tmp.path() / "data.LDB";  // named by a program that was given the name in another case
    writeFile(ldb, std::vector<uint8_t>(64, 0));
    LockHolder holder(ldb, 0x10000001, 1);
    ASSERT_TRUE(holder.locked());
    EXPECT_EQ(errorOf(db, out), 3196);
    EXPECT_FALSE(fs::exists(out));
  }
  // A lock file that nobody holds is what a session that ended abruptly leaves behind; it does not stop compaction.
  EXPECT_EQ(errorOf(db, out), 0);
  // While a compaction holds its lock, a writer cannot lock the database, but another compaction may read it.
  auto lock = Env::system().lockSource(db);
  LockHolder writer(db, 0, 0);
  EXPECT_FALSE(writer.locked());
  EXPECT_EQ(errorOf(db, tmp.path() / "second.mdb"), 0);
}

}  // namespace
}  // namespace jet
