// Runs the built executables the way a user does: copied into a folder of their own beside a
// database file, started from another folder, without a display, and checks what is left.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "jet/create/generator.h"
#include "jet/read/database.h"
#include "jet/check/integrity_check.h"
#include "jet/create/generator.h"
#include "platform/testing/test_database_engine.h"
#include "platform/testing/test_files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using platform::testing::entries;
using platform::testing::HeldByteLock;
using platform::testing::readFile;
using platform::testing::TempFolder;
using platform::testing::writeFile;

struct Result {
  int status = -1;
  std::string errorOutput;
};

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = root_ / "app";
    fs::create_directories(app_);
    fs::create_directories(root_ / "elsewhere");
  }

  // Copies `executable` into the application folder and runs it there from another folder,
  // with `arguments` and without a display, so that messages go to the error stream.
  Result run(const char* executable, const std::vector<std::string>& arguments,
             const std::vector<std::string>& extraEnvironment = {}) {
    const fs::path program = app_ / "jetcompact";
    fs::copy_file(executable, program, fs::copy_options::overwrite_existing);
    const fs::path errorFile = root_ / "stderr.txt";

    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
      const std::string entry = *variable;
      const std::string name = entry.substr(0, entry.find('='));
      if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM" ||
          name == "JETCOMPACT_TEST_ENGINE_FAILURE") {
        continue;
      }
      environment.push_back(entry);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<std::string> argumentStrings{program.string()};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv, envp;
    for (auto& text : argumentStrings) argv.push_back(text.data());
    for (auto& text : environment) envp.push_back(text.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
      const int error = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (error < 0 || ::dup2(error, 2) < 0 || ::chdir((root_ / "elsewhere").c_str()) != 0) ::_exit(126);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    Result result;
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.errorOutput = readFile(errorFile);
    return result;
  }

  TempFolder temp_{"jetcompact-e2e"};
  fs::path root_ = temp_.path();
  fs::path app_;
};

const std::string original = std::string("\0\1Standard Jet DB\0", 18) + "some pages";

TEST_F(EndToEnd, CompactsALowerCaseNameIntoTheUpperCaseNameWithAnIdenticalBackup) {
  writeFile(app_ / "data.mdb", original);
  fs::create_directories(app_ / "VARKOP");  // from an earlier run, with an older copy
  writeFile(app_ / "VARKOP" / "DATA.MDB", "an older backup");

  const Result result = run(JETCOMPACT_TESTENGINE_EXECUTABLE, {"  data.mdb  "});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.errorOutput, "");
  EXPECT_EQ(entries(app_), (std::vector<std::string>{"DATA.MDB", "VARKOP", "jetcompact"}));
  EXPECT_EQ(entries(app_ / "VARKOP"), std::vector<std::string>{"DATA.MDB"});
  EXPECT_EQ(readFile(app_ / "VARKOP" / "DATA.MDB"), original);
  EXPECT_EQ(readFile(app_ / "DATA.MDB"),
            std::string(platform::testing::kTestEngineMarker) + ";LANGID=0x0424;CP=1250;COUNTRY=0\n" + original);
}

TEST_F(EndToEnd, OnlyTheFirstFieldIsTakenAndAnEmptyOneDoesNothing) {
  writeFile(app_ / "a.mdb", original);
  EXPECT_EQ(run(JETCOMPACT_TESTENGINE_EXECUTABLE, {"a.mdb,b.mdb"}).status, 0);
  EXPECT_TRUE(fs::exists(app_ / "A.MDB"));

  fs::remove_all(app_ / "VARKOP");
  const Result result = run(JETCOMPACT_TESTENGINE_EXECUTABLE, {",", "a.mdb"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.errorOutput, "");
  EXPECT_FALSE(fs::exists(app_ / "VARKOP"));
  EXPECT_EQ(run(JETCOMPACT_TESTENGINE_EXECUTABLE, {}).status, 0);
  EXPECT_FALSE(fs::exists(app_ / "VARKOP"));
}

TEST_F(EndToEnd, AMissingDatabaseEndsSilently) {
  const Result result = run(JETCOMPACT_TESTENGINE_EXECUTABLE, {"missing.mdb"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.errorOutput, "");
  EXPECT_EQ(entries(app_), (std::vector<std::string>{"VARKOP", "jetcompact"}));
  EXPECT_TRUE(fs::is_empty(app_ / "VARKOP"));
}

TEST_F(EndToEnd, ABackupThatWouldLeaveTheBackupFolderIsRefused) {
  writeFile(root_ / "DATA.MDB", "outside");
  writeFile(app_ / "DATA.MDB", original);
  for (const std::string& name :
       std::vector<std::string>{"..\\DATA.MDB", "../DATA.MDB", (root_ / "DATA.MDB").string()}) {
    const Result result = run(JETCOMPACT_TESTENGINE_EXECUTABLE, {name});
    EXPECT_EQ(result.status, 2) << name;
    EXPECT_EQ(result.errorOutput, "") << name;
  }
  EXPECT_EQ(readFile(app_ / "DATA.MDB"), original);
  EXPECT_EQ(readFile(root_ / "DATA.MDB"), "outside");
  EXPECT_TRUE(fs::is_empty(app_ / "VARKOP"));
}

TEST_F(EndToEnd, ANameWithAFolderPartIsBackedUpIntoTheSameFolderInsideVarkop) {
  fs::create_directories(app_ / "sub");
  writeFile(app_ / "sub" / "data.mdb", original);
  EXPECT_EQ(run(JETCOMPACT_TESTENGINE_EXECUTABLE, {"sub\\data.mdb"}).status, 2);  // VARKOP\SUB is not there
  EXPECT_EQ(readFile(app_ / "sub" / "data.mdb"), original);

  fs::create_directories(app_ / "VARKOP" / "Sub");
  EXPECT_EQ(run(JETCOMPACT_TESTENGINE_EXECUTABLE, {"sub\\data.mdb"}).status, 0);
  EXPECT_EQ(readFile(app_ / "VARKOP" / "Sub" / "DATA.MDB"), original);
  EXPECT_TRUE(fs::exists(app_ / "sub" / "DATA.MDB"));
  EXPECT_FALSE(fs::exists(app_ / "sub" / "data.mdb"));
}

TEST_F(EndToEnd, AnExecutableWithoutAnEngineReportsThatNoEngineCanBeCreated) {
  writeFile(app_ / "data.mdb", original);
  const Result result = run(JETCOMPACT_NOENGINE_EXECUTABLE, {"data.mdb"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.errorOutput, "Napaka: Napaka 429 pri stiskanju baze!\n");
  EXPECT_EQ(readFile(app_ / "data.mdb"), original);
  EXPECT_EQ(readFile(app_ / "VARKOP" / "DATA.MDB"), original);
  EXPECT_EQ(entries(app_), (std::vector<std::string>{"VARKOP", "data.mdb", "jetcompact"}));
}

TEST_F(EndToEnd, EngineFailuresAreReportedAndNothingIsDeleted) {
  writeFile(app_ / "DATA.MDB", original);
  Result result = run(JETCOMPACT_TESTENGINE_EXECUTABLE, {"data.mdb"}, {"JETCOMPACT_TEST_ENGINE_FAILURE=3356"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.errorOutput, "Napaka: Izbrana baza je v uporabi!\n");

  writeFile(app_ / "DATA.MDN", "left over from an earlier run");
  result = run(JETCOMPACT_TESTENGINE_EXECUTABLE, {"data.mdb"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.errorOutput, "Napaka: Napaka 3204 pri stiskanju baze!\n");
  EXPECT_EQ(readFile(app_ / "DATA.MDB"), original);
  EXPECT_EQ(readFile(app_ / "DATA.MDN"), "left over from an earlier run");
}

TEST_F(EndToEnd, ADatabaseLockedByAnotherProcessIsReportedInUseAndKept) {
  writeFile(app_ / "DATA.MDB", original);
  // An engine holding the database open locks a byte range far past its data.
  std::optional<HeldByteLock> holder;
  holder.emplace(app_ / "DATA.MDB", 0x10000000, HeldByteLock::Kind::exclusive, HeldByteLock::Owner::process);
  ASSERT_TRUE(holder->held());

  const Result result = run(JETCOMPACT_TESTENGINE_EXECUTABLE, {"data.mdb"});
  holder.reset();
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.errorOutput, "Napaka: Izbrana baza je v uporabi!\n");
  EXPECT_EQ(readFile(app_ / "DATA.MDB"), original);
  EXPECT_TRUE(fs::exists(app_ / "DATA.MDN"));  // the compacted file stays under the temporary name
}

// The shipped executable with the real engine, on a real database: a generated one with rows deleted and tables
// dropped, as applications leave them.
void generateDatabase(const fs::path& path) {
  jet::create::GeneratorOptions options;
  options.articles = 60;
  options.bloatPercent = 30;
  jet::create::generateDatabase(path.string(), options);
}

TEST_F(EndToEnd, TheShippedExecutableCompactsARealDatabaseInPlace) {
  const fs::path source = root_ / "source.mdb";
  generateDatabase(source);
  const std::string before = readFile(source);
  fs::copy_file(source, app_ / "data.mdb");

  const Result result = run(JETCOMPACT_EXECUTABLE, {"data.mdb"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.errorOutput, "");
  EXPECT_EQ(entries(app_), (std::vector<std::string>{"DATA.MDB", "VARKOP", "jetcompact"}));  // no DATA.MDN left
  EXPECT_EQ(readFile(app_ / "VARKOP" / "DATA.MDB"), before);
  EXPECT_LT(fs::file_size(app_ / "DATA.MDB"), before.size());
  auto compacted = jet::Database::open((app_ / "DATA.MDB").string());
  EXPECT_TRUE(jet::checkDatabase(*compacted).clean(true));
  auto uncompacted = jet::Database::open(source.string());
  EXPECT_EQ(compacted->catalog().tables(false).size(), uncompacted->catalog().tables(false).size());
}

TEST_F(EndToEnd, TheRealEngineReportsInUseAndForeignFilesAndKeepsEverything) {
  // Not a database: reported with the engine's number, nothing deleted, no temporary file.
  writeFile(app_ / "DATA.MDB", original);
  Result result = run(JETCOMPACT_EXECUTABLE, {"data.mdb"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.errorOutput, "Napaka: Napaka 3343 pri stiskanju baze!\n");
  EXPECT_EQ(readFile(app_ / "DATA.MDB"), original);
  EXPECT_EQ(entries(app_), (std::vector<std::string>{"DATA.MDB", "VARKOP", "jetcompact"}));

  fs::remove(app_ / "DATA.MDB");
  generateDatabase(app_ / "DATA.MDB");
  const std::string before = readFile(app_ / "DATA.MDB");
  // Another program has it open (Jet, also under Wine, holds record locks far past the data).
  std::optional<HeldByteLock> holder;
  holder.emplace(app_ / "DATA.MDB", 0x10000000, HeldByteLock::Kind::exclusive, HeldByteLock::Owner::process);
  ASSERT_TRUE(holder->held());
  result = run(JETCOMPACT_EXECUTABLE, {"data.mdb"});
  holder.reset();
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.errorOutput, "Napaka: Izbrana baza je v uporabi!\n");
  EXPECT_EQ(readFile(app_ / "DATA.MDB"), before);
  EXPECT_EQ(entries(app_), (std::vector<std::string>{"DATA.MDB", "VARKOP", "jetcompact"}));
}

// The shipped executable on a small generated database, where runs are crowded or given strange files.
class EndToEndStrangeFiles : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    jet::create::GeneratorOptions options;
    options.articles = 30;
    options.bloatPercent = 30;
    jet::create::generateDatabase((root_ / "generated.mdb").string(), options);
    generated_ = readFile(root_ / "generated.mdb");
  }
  // The database a run leaves: compacted (smaller) and clean.
  void expectCompacted(const fs::path& file) {
    EXPECT_LT(fs::file_size(file), generated_.size());
    auto compacted = jet::Database::open(file.string());
    EXPECT_TRUE(jet::checkDatabase(*compacted).clean(true));
  }
  std::string generated_;
};

TEST_F(EndToEndStrangeFiles, AReadersSharedLockDoesNotStrandTheCompaction) {
  writeFile(app_ / "DATA.MDB", generated_);
  HeldByteLock reader(app_ / "DATA.MDB", 0, HeldByteLock::Kind::shared, HeldByteLock::Owner::process);
  ASSERT_TRUE(reader.held());
  const Result result = run(JETCOMPACT_EXECUTABLE, {"data.mdb"});
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  EXPECT_EQ(entries(app_), (std::vector<std::string>{"DATA.MDB", "VARKOP", "jetcompact"}));
  expectCompacted(app_ / "DATA.MDB");
}

TEST_F(EndToEndStrangeFiles, ADatabaseOpenInJetIsRefusedBeforeAnythingIsWritten) {
  writeFile(app_ / "DATA.MDB", generated_);
  writeFile(app_ / "data.ldb", "");
  HeldByteLock user(app_ / "data.ldb", 0, HeldByteLock::Kind::exclusive, HeldByteLock::Owner::process);
  ASSERT_TRUE(user.held());
  const Result result = run(JETCOMPACT_EXECUTABLE, {"data.mdb"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.errorOutput, "Napaka: Izbrana baza je v uporabi!\n");
  EXPECT_EQ(entries(app_), (std::vector<std::string>{"DATA.MDB", "VARKOP", "data.ldb", "jetcompact"}));
  EXPECT_EQ(readFile(app_ / "DATA.MDB"), generated_);
}

TEST_F(EndToEndStrangeFiles, ALinkedDatabaseIsCompactedWhereItLiesAndTheLinkStays) {
  fs::create_directories(root_ / "shared");
  writeFile(root_ / "shared" / "Real.mdb", generated_);
  fs::create_symlink("../shared/Real.mdb", app_ / "data.mdb");
  const Result result = run(JETCOMPACT_EXECUTABLE, {"data.mdb"});
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  EXPECT_TRUE(fs::is_symlink(app_ / "data.mdb"));
  EXPECT_EQ(entries(root_ / "shared"), std::vector<std::string>{"Real.mdb"});
  expectCompacted(root_ / "shared" / "Real.mdb");
  EXPECT_EQ(readFile(app_ / "VARKOP" / "DATA.MDB"), generated_);
}

TEST_F(EndToEndStrangeFiles, AFifoOrAFolderIsRefusedAtOnceLikeAMissingFile) {
  ASSERT_EQ(::mkfifo((app_ / "PIPE.MDB").c_str(), 0600), 0);
  fs::create_directories(app_ / "FOLDER.MDB");
  for (const char* name : {"pipe.mdb", "folder.mdb"}) {
    const Result result = run(JETCOMPACT_EXECUTABLE, {name});
    EXPECT_EQ(result.status, 2) << name;
    EXPECT_EQ(result.errorOutput, "");
  }
  EXPECT_EQ(entries(app_ / "VARKOP"), std::vector<std::string>{});
}

TEST_F(EndToEndStrangeFiles, TheLongestNameThatFitsCanBeCompacted) {
  const std::string name = std::string(251, 'D') + ".MDB";
  writeFile(app_ / name, generated_);
  const Result result = run(JETCOMPACT_EXECUTABLE, {name});
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  EXPECT_EQ(entries(app_), (std::vector<std::string>{name, "VARKOP", "jetcompact"}));
  EXPECT_EQ(entries(app_ / "VARKOP"), std::vector<std::string>{name});
  expectCompacted(app_ / name);
}

TEST_F(EndToEndStrangeFiles, WhatAKilledRunLeftIsRemovedAndTheNextRunSucceeds) {
  writeFile(app_ / "DATA.MDB", generated_);
  fs::create_directories(app_ / "VARKOP");
  writeFile(app_ / "VARKOP" / ".DATA.MDB.partial-Ab12Cd", generated_.substr(0, 4096));
  writeFile(app_ / ".DATA.MDN.partial-Ef34Gh", generated_.substr(0, 8192));
  const Result result = run(JETCOMPACT_EXECUTABLE, {"data.mdb"});
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  EXPECT_EQ(entries(app_), (std::vector<std::string>{"DATA.MDB", "VARKOP", "jetcompact"}));
  EXPECT_EQ(entries(app_ / "VARKOP"), std::vector<std::string>{"DATA.MDB"});
  expectCompacted(app_ / "DATA.MDB");
}

}  // namespace
