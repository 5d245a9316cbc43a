#include "platform/posix_file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "platform/runtime_error.h"
#include "platform/text.h"
#include "platform/testing/test_files.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

using testing::entries;
using testing::HeldByteLock;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

template <class Operation>
std::int32_t failureNumber(Operation&& operation) {
  try {
    operation();
  } catch (const RuntimeError& failure) {
    return failure.number();
  }
  return 0;
}

// Each test works in a fresh current folder of its own.
class PosixFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(folder_);
  }
  void TearDown() override { fs::current_path(previous_); }

  PosixFileSystem files;
  TempFolder temp_{"jetcompact-fs"};
  fs::path folder_ = temp_.path();
  fs::path previous_;
};

TEST_F(PosixFileSystemTest, NamesResolveCaseInsensitivelyAndAnExactMatchWins) {
  fs::create_directories("Varkop");
  writeFile("data.mdb", "lower");
  writeFile("čaša.mdb", "cup");
  files.copyFile(u"DATA.MDB", u"VARKOP\\DATA.MDB");
  files.copyFile(u"ČAŠA.MDB", u"varkop/ČAŠA.MDB");
  EXPECT_EQ(entries("Varkop"), (std::vector<std::string>{"DATA.MDB", "ČAŠA.MDB"}));
  EXPECT_EQ(readFile("Varkop/DATA.MDB"), "lower");

  writeFile("DATA.MDB", "upper");
  writeFile("Data.Mdb", "mixed");
  files.copyFile(u"DATA.MDB", u"VARKOP\\copy");
  EXPECT_EQ(readFile("Varkop/copy"), "upper");
  files.copyFile(u"Data.Mdb", u"VARKOP\\copy");
  EXPECT_EQ(readFile("Varkop/copy"), "mixed");
  EXPECT_EQ(files.systemPath(u"varkop\\Copy"), fs::path("Varkop/copy"));
  EXPECT_EQ(files.systemPath(u"varkop\\new.mdb"), fs::path("Varkop/new.mdb"));
}

TEST_F(PosixFileSystemTest, CopyReplacesTheDestinationAndLeavesNothingElse) {
  fs::create_directories("VARKOP");
  // Larger than one step of the kernel's copy and than one step of the writeback, and no two blocks alike.
  std::string contents(20 << 20, '\0');
  for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>((i * 2654435761u) >> 13);
  writeFile("DATA.MDB", contents);
  writeFile("VARKOP/DATA.MDB", "older and different");
  fs::last_write_time("DATA.MDB", fs::last_write_time("DATA.MDB") - std::chrono::hours(24));
  fs::permissions("DATA.MDB", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  files.copyFile(u"DATA.MDB", u"VARKOP\\DATA.MDB");
  EXPECT_EQ(readFile("VARKOP/DATA.MDB"), readFile("DATA.MDB"));
  EXPECT_EQ(entries("VARKOP"), std::vector<std::string>{"DATA.MDB"});
  EXPECT_EQ(fs::status("VARKOP/DATA.MDB").permissions(), fs::status("DATA.MDB").permissions());
  EXPECT_EQ(fs::last_write_time("VARKOP/DATA.MDB"), fs::last_write_time("DATA.MDB"));
}

TEST_F(PosixFileSystemTest, CopyFailuresCarryTheRunTimesNumbers) {
  writeFile("DATA.MDB", "db");
  fs::create_directories("VARKOP");
  fs::create_directories("VARKOP/DATA.MDB.d");
  EXPECT_EQ(failureNumber([&] { files.copyFile(u"MISSING.MDB", u"VARKOP\\MISSING.MDB"); }), 53);
  EXPECT_EQ(failureNumber([&] { files.copyFile(u"NOFOLDER\\DATA.MDB", u"VARKOP\\DATA.MDB"); }), 76);
  EXPECT_EQ(failureNumber([&] { files.copyFile(u"DATA.MDB", u"NOFOLDER\\DATA.MDB"); }), 76);
  EXPECT_EQ(failureNumber([&] { files.copyFile(u"VARKOP", u"VARKOP2"); }), 75);
  EXPECT_EQ(failureNumber([&] { files.copyFile(u"DATA.MDB", u"VARKOP\\DATA.MDB.d"); }), 75);
  EXPECT_EQ(failureNumber([&] { files.copyFile(u"", u"X"); }), 52);
  EXPECT_EQ(entries("VARKOP"), std::vector<std::string>{"DATA.MDB.d"});
}

TEST_F(PosixFileSystemTest, CreateFolderFailsWhenAFolderOfThatNameIsThereInAnyCase) {
  files.createFolder(u"VARKOP\\");
  EXPECT_TRUE(fs::is_directory("VARKOP"));
  EXPECT_EQ(failureNumber([&] { files.createFolder(u"VARKOP\\"); }), 75);
  EXPECT_EQ(failureNumber([&] { files.createFolder(u"varkop"); }), 75);
  EXPECT_EQ(failureNumber([&] { files.createFolder(u"a\\b"); }), 76);
}

TEST_F(PosixFileSystemTest, ReplaceFilePutsTheNewFileUnderTheOriginalsName) {
  writeFile("DATA.MDB", "old");
  writeFile("DATA.MDN", "new");
  files.replaceFile(u"DATA.MDN", u"DATA.MDB");
  EXPECT_EQ(entries("."), std::vector<std::string>{"DATA.MDB"});
  EXPECT_EQ(readFile("DATA.MDB"), "new");
}

TEST_F(PosixFileSystemTest, ReplaceFileGivesTheOriginalTheCaseOfTheNameAsWritten) {
  writeFile("data.mdb", "old");
  writeFile("DATA.MDN", "new");
  files.replaceFile(u"DATA.MDN", u"DATA.MDB");
  EXPECT_EQ(entries("."), std::vector<std::string>{"DATA.MDB"});
  EXPECT_EQ(readFile("DATA.MDB"), "new");
}

TEST_F(PosixFileSystemTest, ReplaceFileRefusesAMissingFileOrADatabaseItsEngineHoldsOpen) {
  writeFile("DATA.MDN", "new");
  EXPECT_EQ(failureNumber([&] { files.replaceFile(u"DATA.MDN", u"DATA.MDB"); }), 53);
  EXPECT_EQ(failureNumber([&] { files.replaceFile(u"OTHER.MDN", u"DATA.MDN"); }), 53);

  writeFile("DATA.MDB", "old");
  writeFile("data.LDB", "");
  // Jet's exclusive locks on single bytes far past the data, on the database or on its lock file in any case.
  for (const char* locked : {"DATA.MDB", "data.LDB"}) {
    SCOPED_TRACE(locked);
    std::optional<HeldByteLock> holder;
    holder.emplace(locked, 0x7FFFFF00, HeldByteLock::Kind::exclusive, HeldByteLock::Owner::openFile);
    ASSERT_TRUE(holder->held());
    EXPECT_TRUE(fileIsLockedByOthers("DATA.MDB"));
    EXPECT_EQ(failureNumber([&] { files.replaceFile(u"DATA.MDN", u"DATA.MDB"); }), 75);
    EXPECT_EQ(readFile("DATA.MDB"), "old");
    EXPECT_EQ(readFile("DATA.MDN"), "new");
  }

  // A reader's shared lock, as the engine's own probe sees it, does not strand the finished work.
  HeldByteLock reader("DATA.MDB", 0, HeldByteLock::Kind::shared, HeldByteLock::Owner::openFile);
  ASSERT_TRUE(reader.held());
  EXPECT_FALSE(fileIsLockedByOthers("DATA.MDB"));
  files.replaceFile(u"DATA.MDN", u"DATA.MDB");
  EXPECT_EQ(readFile("DATA.MDB"), "new");
}

TEST_F(PosixFileSystemTest, TheReplacementKeepsOwnerGroupPermissionsAndAccessList) {
  const bool root = ::geteuid() == 0;
  for (const fs::perms mode : {fs::perms(0660), fs::perms(0444), fs::perms(0640)}) {
    writeFile("DATA.MDB", "old");
    writeFile("DATA.MDN", "new");
    fs::permissions("DATA.MDB", mode);
    if (root) {
      ASSERT_EQ(::chown("DATA.MDB", 65534, 65534), 0);
    }
    files.replaceFile(u"DATA.MDN", u"DATA.MDB");
    struct stat info {};
    ASSERT_EQ(::stat("DATA.MDB", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, static_cast<unsigned>(mode));
    if (root) {
      EXPECT_EQ(info.st_uid, 65534u);
      EXPECT_EQ(info.st_gid, 65534u);
    }
    EXPECT_EQ(readFile("DATA.MDB"), "new");
    fs::remove("DATA.MDB");
  }

  // The backup keeps them too, and both keep the access list where the database has one.
  writeFile("DATA.MDB", "old");
  writeFile("DATA.MDN", "new");
  fs::create_directories("VARKOP");
  if (std::system("setfacl -m u:nobody:rw DATA.MDB 2>/dev/null") != 0)
    GTEST_SKIP() << "setfacl (package acl) is missing or ACLs are off";
  files.copyFile(u"DATA.MDB", u"VARKOP\\DATA.MDB");
  files.replaceFile(u"DATA.MDN", u"DATA.MDB");
  EXPECT_EQ(std::system("getfacl -c DATA.MDB 2>/dev/null | grep -qx 'user:nobody:rw-'"), 0);
  EXPECT_EQ(std::system("getfacl -c VARKOP/DATA.MDB 2>/dev/null | grep -qx 'user:nobody:rw-'"), 0);
}

TEST_F(PosixFileSystemTest, StrangeFilesAreRefusedAtOnce) {
  ASSERT_EQ(::mkfifo("PIPE.MDB", 0600), 0);
  fs::create_directories("VARKOP");
  fs::create_directories("FOLDER.MDB");
  writeFile("DATA.MDN", "new");
  // A FIFO would block the open until somebody writes to it.
  EXPECT_EQ(failureNumber([&] { files.copyFile(u"PIPE.MDB", u"VARKOP\\PIPE.MDB"); }), 75);
  EXPECT_EQ(failureNumber([&] { files.copyFile(u"FOLDER.MDB", u"VARKOP\\FOLDER.MDB"); }), 75);
  EXPECT_EQ(failureNumber([&] { files.replaceFile(u"DATA.MDN", u"PIPE.MDB"); }), 75);
  EXPECT_EQ(entries("VARKOP"), std::vector<std::string>{});
  EXPECT_EQ(readFile("DATA.MDN"), "new");
}

TEST_F(PosixFileSystemTest, ALinkedDatabaseStandsForTheFileBehindIt) {
  fs::create_directories("shared");
  writeFile("shared/Real.mdb", "db");
  fs::create_symlink("shared/Real.mdb", "data.mdb");
  EXPECT_EQ(fs::path(files.fileBehind(u"DATA.MDB")), fs::canonical("shared/Real.mdb"));
  writeFile("plain.mdb", "db");
  EXPECT_EQ(files.fileBehind(u"PLAIN.MDB"), u"PLAIN.MDB");
  EXPECT_EQ(files.fileBehind(u"MISSING.MDB"), u"MISSING.MDB");
}

TEST_F(PosixFileSystemTest, ACopyWritesAPartialFileThatFitsWhereverTheNameFits) {
  fs::create_directories("VARKOP");
  const std::string longest(251, 'D');
  const std::string name = longest + ".MDB";  // 255 bytes, the limit
  writeFile(name, "db");
  files.copyFile(fromUtf8(name), u"VARKOP\\" + fromUtf8(name));
  EXPECT_EQ(readFile("VARKOP/" + name), "db");
  EXPECT_EQ(entries("VARKOP"), std::vector<std::string>{name});
}

TEST_F(PosixFileSystemTest, ACopyRemovesWhatInterruptedCopiesLeftButNotWhatIsBeingWritten) {
  fs::create_directories("VARKOP");
  writeFile("DATA.MDB", "db");
  writeFile("VARKOP/.DATA.MDB.partial-abc123", "left by a killed run");
  writeFile("VARKOP/.DATA.MDB.partial-def456", "being written");
  writeFile("VARKOP/.DATA.MDB.partial-toolong", "not our naming");
  writeFile("VARKOP/.OTHER.MDB.partial-abc123", "another database's");
  HeldByteLock writer("VARKOP/.DATA.MDB.partial-def456", 0, HeldByteLock::Kind::exclusive,
                      HeldByteLock::Owner::openFile);
  ASSERT_TRUE(writer.held());
  files.copyFile(u"DATA.MDB", u"VARKOP\\DATA.MDB");
  EXPECT_EQ(entries("VARKOP"), (std::vector<std::string>{".DATA.MDB.partial-def456", ".DATA.MDB.partial-toolong",
                                                         ".OTHER.MDB.partial-abc123", "DATA.MDB"}));
}

TEST_F(PosixFileSystemTest, CurrentFolderAndExecutableFolder) {
  fs::create_directories("Sub/Inner");
  files.changeCurrentFolder(u"sub\\INNER");
  EXPECT_EQ(fs::current_path(), fs::canonical(folder_ / "Sub" / "Inner"));
  EXPECT_EQ(failureNumber([&] { files.changeCurrentFolder(u"missing"); }), 76);
  EXPECT_EQ(fs::path(files.executableFolder()), fs::read_symlink("/proc/self/exe").parent_path());
  files.changeCurrentFolder(files.executableFolder());
  EXPECT_EQ(fs::current_path(), fs::read_symlink("/proc/self/exe").parent_path());
}

}  // namespace
}  // namespace platform
