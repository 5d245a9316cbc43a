#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "platform/win32/win32_errors.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& file) {
  std::ifstream input(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& file, const std::string& contents) { std::ofstream(file, std::ios::binary) << contents; }

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::int32_t numberOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const RuntimeError& failure) {
    return failure.number();
  }
  return 0;
}

// Another program's hold on a file: its own handle, shared as a database engine shares it, with a lock on one byte.
class HeldLock {
 public:
  HeldLock(const fs::path& file, std::uint64_t offset)
      : handle_(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    overlapped_.Offset = static_cast<DWORD>(offset);
    overlapped_.OffsetHigh = static_cast<DWORD>(offset >> 32);
    held_ = handle_ != INVALID_HANDLE_VALUE &&
            LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &overlapped_);
  }
  ~HeldLock() {
    if (held_) UnlockFileEx(handle_, 0, 1, 0, &overlapped_);
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool held() const { return held_; }

 private:
  HANDLE handle_;
  OVERLAPPED overlapped_{};
  bool held_ = false;
};

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("jetcompact-files-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "VARKOP");
    previous_ = fs::current_path();
    fs::current_path(root_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::size_t entryCount(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }

  fs::path root_, previous_;
  Win32FileSystem files_;
};

TEST_F(Win32Files, CopyReplacesAnOlderCopyAndLeavesNothingElse) {
  writeFile("DATA.MDB", "new contents");
  writeFile("VARKOP/DATA.MDB", "an older, longer copy");
  files_.copyFile(u"data.mdb", u"VARKOP\\DATA.MDB");
  EXPECT_EQ(readFile("VARKOP/DATA.MDB"), "new contents");
  EXPECT_EQ(entryCount("VARKOP"), 1u);
  EXPECT_EQ(readFile("DATA.MDB"), "new contents");
}

// A copy is written under the engine's partial name and held without sharing; the next copy removes such files that
// nobody holds, and nothing else.
TEST_F(Win32Files, ACopyRemovesWhatInterruptedCopiesLeftButNotWhatIsBeingWritten) {
  writeFile("DATA.MDB", "db");
  writeFile("VARKOP/.DATA.MDB.partial-abc123", "left by a killed run");
  writeFile("VARKOP/.DATA.MDB.partial-def456", "being written");
  writeFile("VARKOP/.DATA.MDB.partial-toolong", "not our naming");
  writeFile("VARKOP/.OTHER.MDB.partial-abc123", "another database's");
  HANDLE writer = CreateFileW(L"VARKOP\\.DATA.MDB.partial-def456", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  files_.copyFile(u"DATA.MDB", u"VARKOP\\DATA.MDB");
  CloseHandle(writer);
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator("VARKOP")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".DATA.MDB.partial-def456", ".DATA.MDB.partial-toolong",
                                             ".OTHER.MDB.partial-abc123", "DATA.MDB"}));
  EXPECT_EQ(readFile("VARKOP/DATA.MDB"), "db");
}

TEST_F(Win32Files, CopyFailsWithTheRuntimesNumbers) {
  writeFile("DATA.MDB", "x");
  EXPECT_EQ(numberOf([&] { files_.copyFile(u"MISSING.MDB", u"VARKOP\\MISSING.MDB"); }), error::kFileNotFound);
  EXPECT_EQ(numberOf([&] { files_.copyFile(u"NOWHERE\\DATA.MDB", u"VARKOP\\DATA.MDB"); }), error::kPathNotFound);
  EXPECT_EQ(numberOf([&] { files_.copyFile(u"DATA.MDB", u"VARKOP\\SUB\\DATA.MDB"); }), error::kPathNotFound);
  EXPECT_EQ(numberOf([&] { files_.copyFile(u"VARKOP", u"COPY"); }), error::kPathFileAccessError);
  EXPECT_EQ(numberOf([&] { files_.copyFile(std::u16string(u"DATA.MDB\0X", 10), u"COPY"); }), error::kBadFileName);
  EXPECT_EQ(entryCount("VARKOP"), 0u);
}

TEST_F(Win32Files, CopyReadsADatabaseThatAnotherProgramHoldsOpenAndLocked) {
  writeFile("DATA.MDB", "in use");
  HeldLock lock("DATA.MDB", 0x10000000);
  ASSERT_TRUE(lock.held());
  files_.copyFile(u"DATA.MDB", u"VARKOP\\DATA.MDB");
  EXPECT_EQ(readFile("VARKOP/DATA.MDB"), "in use");
}

TEST_F(Win32Files, CreatingAFolderThatIsThereFails) {
  files_.createFolder(u"NEW\\");
  EXPECT_TRUE(fs::is_directory("NEW"));
  EXPECT_EQ(numberOf([&] { files_.createFolder(u"NEW\\"); }), error::kPathFileAccessError);
  EXPECT_EQ(numberOf([&] { files_.createFolder(u"NOWHERE\\NEW"); }), error::kPathNotFound);
}

TEST_F(Win32Files, ReplacementTakesTheOriginalsPlace) {
  writeFile("DATA.MDB", "old");
  writeFile("DATA.MDN", "compacted");
  files_.replaceFile(u"DATA.MDN", u"DATA.MDB");
  EXPECT_EQ(readFile("DATA.MDB"), "compacted");
  EXPECT_FALSE(fs::exists("DATA.MDN"));
}

TEST_F(Win32Files, ReplacementOfAnEntryInAnotherCaseLeavesOneEntry) {
  writeFile("data.mdb", "old");
  writeFile("DATA.MDN", "compacted");
  files_.replaceFile(u"DATA.MDN", u"DATA.MDB");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(".")) names.push_back(upper(entry.path().filename().string()));
  std::sort(names.begin(), names.end());
  // Windows gives the entry the name as written; Wine keeps the old entry's case and cannot change only the case.
  EXPECT_EQ(names, (std::vector<std::string>{"DATA.MDB", "VARKOP"}));
  EXPECT_EQ(readFile("DATA.MDB"), "compacted");
}

TEST_F(Win32Files, ReplacementFailsWithoutTouchingEitherFile) {
  writeFile("DATA.MDB", "old");
  EXPECT_EQ(numberOf([&] { files_.replaceFile(u"DATA.MDN", u"DATA.MDB"); }), error::kFileNotFound);
  writeFile("DATA.MDN", "compacted");
  EXPECT_EQ(numberOf([&] { files_.replaceFile(u"DATA.MDN", u"OTHER.MDB"); }), error::kFileNotFound);
  {
    // Jet locks bytes far past the end of the data while a database is open.
    HeldLock lock("DATA.MDB", 0x7FFFFFF0);
    ASSERT_TRUE(lock.held());
    EXPECT_TRUE(fileIsLockedByOthers(u"DATA.MDB"));
    EXPECT_EQ(numberOf([&] { files_.replaceFile(u"DATA.MDN", u"DATA.MDB"); }), error::kPathFileAccessError);
  }
  EXPECT_EQ(readFile("DATA.MDB"), "old");
  EXPECT_EQ(readFile("DATA.MDN"), "compacted");
  EXPECT_FALSE(fileIsLockedByOthers(u"DATA.MDB"));
}

TEST_F(Win32Files, TheExecutablesFolderAndTheCurrentFolder) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring executable(path, length);
  const std::u16string folder = files_.executableFolder();
  EXPECT_EQ(std::wstring(folder.begin(), folder.end()), fs::path(executable).parent_path().wstring());

  files_.changeCurrentFolder(u"VARKOP");
  EXPECT_EQ(fs::current_path(), fs::canonical(root_ / "VARKOP"));
  EXPECT_EQ(numberOf([&] { files_.changeCurrentFolder(u"MISSING"); }), error::kPathNotFound);
}

TEST(Win32Errors, SystemCodesBecomeTheRuntimesNumbers) {
  EXPECT_EQ(runtimeErrorNumber(ERROR_FILE_NOT_FOUND), 53);
  EXPECT_EQ(runtimeErrorNumber(ERROR_PATH_NOT_FOUND), 76);
  EXPECT_EQ(runtimeErrorNumber(ERROR_SHARING_VIOLATION), 75);
  EXPECT_EQ(runtimeErrorNumber(ERROR_LOCK_VIOLATION), 75);
  EXPECT_EQ(runtimeErrorNumber(ERROR_ACCESS_DENIED), 70);
  EXPECT_EQ(runtimeErrorNumber(ERROR_ALREADY_EXISTS), 58);
  EXPECT_EQ(runtimeErrorNumber(ERROR_FILE_EXISTS), 58);
  EXPECT_EQ(runtimeErrorNumber(ERROR_DISK_FULL), 61);
  EXPECT_EQ(runtimeErrorNumber(ERROR_HANDLE_DISK_FULL), 61);
  EXPECT_EQ(runtimeErrorNumber(ERROR_CRC), 57);
  EXPECT_EQ(runtimeErrorNumber(ERROR_INVALID_NAME), 52);
  EXPECT_EQ(runtimeErrorNumber(ERROR_INVALID_FUNCTION), 75);
}

TEST(Win32Text, UpperCaseIsTheSystemsMappingUnitByUnit) {
  EXPECT_EQ(upperCase(u"data.mdb"), u"DATA.MDB");
  EXPECT_EQ(upperCase(u"čšž äöü"), u"ČŠŽ ÄÖÜ");
  EXPECT_EQ(upperCase(u"\U0001F600x"), u"\U0001F600X");
  EXPECT_EQ(upperCase(u""), u"");
}

}  // namespace
}  // namespace platform
