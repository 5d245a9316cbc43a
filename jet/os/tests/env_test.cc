// The system's Env on the questions the utility's platform layer asks it too: names that differ only in case, other
// users' locks of either kind, the flush of a folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "jet/os/env.h"
#include "jet/os/testing/fault_env.h"
#include "jet/os/unicode.h"
#include "jet/testing/temp_folder.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& file) { std::ofstream(file, std::ios::binary) << "x"; }

TEST(Env, FindsEveryNameThatDiffersOnlyInCaseInByteOrder) {
  test_support::TempFolder dir("jet-env");
  for (const char* name : {"Data.MDB", "DATA.mdb", "data.mdbx", "other.mdb",
                           "\xC4\x8C"
                           "a\xC5\xA1"
                           "a.ldb"}) {
    touch(dir.path() / name);
  }
  Env& env = Env::system();
  EXPECT_EQ(env.findIgnoringCase(dir.path().string(), "data.mdb"), (std::vector<std::string>{"DATA.mdb", "Data.MDB"}));
  // Letters beyond ASCII map as the system maps them (č to Č, š to Š).
  EXPECT_EQ(env.findIgnoringCase(dir.path().string(),
                                 "\xC4\x8D"
                                 "A\xC5\xA0"
                                 "a.LDB"),
            (std::vector<std::string>{"\xC4\x8C"
                                      "a\xC5\xA1"
                                      "a.ldb"}));
  EXPECT_TRUE(env.findIgnoringCase(dir.path().string(), "missing").empty());
  EXPECT_TRUE(env.findIgnoringCase((dir.path() / "no-folder").string(), "data.mdb").empty());
}

// Another open file's lock, as another program holding the file open would take it.
class OtherLock {
 public:
  OtherLock(const fs::path& file, short type) : fd_(::open(file.c_str(), O_RDWR | O_CLOEXEC)) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x10000000;
    lock.l_len = 1;
    held_ = fd_ >= 0 && ::fcntl(fd_, F_OFD_SETLK, &lock) == 0;
  }
  ~OtherLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  OtherLock(const OtherLock&) = delete;
  OtherLock& operator=(const OtherLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

TEST(Env, TheLockProbeTellsExclusiveLocksFromSharedOnes) {
  test_support::TempFolder dir("jet-env");
  const fs::path file = dir.path() / "DATA.MDB";
  touch(file);
  Env& env = Env::system();
  EXPECT_FALSE(env.lockedByOthers(file.string(), LockProbe::any));
  {
    OtherLock shared(file, F_RDLCK);
    if (!shared.held()) GTEST_SKIP() << "no open-file-description locks on this system";
    EXPECT_FALSE(env.lockedByOthers(file.string(), LockProbe::exclusive));
    EXPECT_TRUE(env.lockedByOthers(file.string(), LockProbe::any));
  }
  {
    OtherLock exclusive(file, F_WRLCK);
    ASSERT_TRUE(exclusive.held());
    EXPECT_TRUE(env.lockedByOthers(file.string(), LockProbe::exclusive));
    EXPECT_TRUE(env.lockedByOthers(file.string(), LockProbe::any));
  }
  EXPECT_FALSE(env.lockedByOthers((dir.path() / "missing.mdb").string(), LockProbe::any));
}

TEST(Env, AFolderThatCannotBeOpenedIsNotFlushedAndSaysWhy) {
  test_support::TempFolder dir("jet-env");
  Env& env = Env::system();
  EXPECT_NO_THROW(env.flushFolder(dir.path().string()));
  try {
    env.flushFolder((dir.path() / "missing").string());
    ADD_FAILURE() << "a missing folder was flushed";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
    EXPECT_EQ(e.systemError(), ENOENT);
  }
}

TEST(Env, LockFilesAreNamedAfterTheDatabase) {
  EXPECT_EQ(lockFileName("/a/b/DATA.MDB", false), "/a/b/DATA.ldb");
  EXPECT_EQ(lockFileName("/a.b/DATA", true), "/a.b/DATA.LDB");
}

// The one rule for a database in use, asked of an Env whose every file is locked by another user: the lock file, found
// in any case, says a shared session; without one, the database itself is opened exclusively.
TEST(Env, ADatabaseIsInUseThroughItsLockFileInAnyCaseOrByItself) {
  test_support::TempFolder dir("jet-env");
  touch(dir.path() / "Data.mdb");
  const std::string database = (dir.path() / "Data.mdb").string();
  os_testing::FaultEnv everythingLocked;
  everythingLocked.lockEverything();
  EXPECT_EQ(databaseInUse(Env::system(), database), std::nullopt);
  EXPECT_EQ(databaseInUse(everythingLocked, database), ErrorCode::OpenedExclusively);
  touch(dir.path() / "DATA.LDB");
  EXPECT_EQ(databaseInUse(everythingLocked, database), ErrorCode::InUse);
  EXPECT_EQ(databaseInUse(Env::system(), database), std::nullopt);
}

TEST(Env, PartialNamesFitWhereTheNameFitsWithoutCuttingACharacter) {
  test_support::TempFolder dir("jet-env");
  const std::string folder = dir.path().string();
  const size_t longest = longestName(folder);
  std::string leaf;
  while (leaf.size() + 2 <= longest) leaf += "\xC4\x8D";  // č, two bytes
  const std::string prefix = partialNamePrefix(folder, leaf);
  EXPECT_LE(prefix.size() + kPartialNameUniqueLength, longest);
  EXPECT_GT(prefix.size() + kPartialNameUniqueLength, longest - 2);
  EXPECT_EQ(prefix.substr(prefix.size() - 9), ".partial-");
  for (size_t i = 0; i < prefix.size();) {  // no character cut in two
    char32_t code = 0;
    const size_t length = unicode::decodeUtf8(prefix, i, code);
    ASSERT_NE(length, 0u) << "at byte " << i;
    i += length;
  }

  EXPECT_TRUE(isPartialName(".DATA.MDB.partial-a1b2c3", ".DATA.MDB.partial-"));
  EXPECT_FALSE(isPartialName(".DATA.MDB.partial-a1b2c", ".DATA.MDB.partial-"));
  EXPECT_FALSE(isPartialName(".DATA.MDB.partial-a1b2c3d", ".DATA.MDB.partial-"));
  EXPECT_FALSE(isPartialName(".OTHER.MD.partial-a1b2c3", ".DATA.MDB.partial-"));
}

}  // namespace
}  // namespace jet
