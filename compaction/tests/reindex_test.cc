#include "compaction/reindex.h"

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "compaction/failure_report.h"
#include "compaction/names.h"
#include "platform/runtime_error.h"
#include "platform/testing/fake_runtime.h"
#include "platform/text.h"

namespace compaction {
namespace {

using platform::testing::FakeRuntime;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string locale = ";LANGID=0x0424;CP=1250;COUNTRY=0";

class Reindex : public ::testing::Test {
 protected:
  void SetUp() override { runtime.files[u"DATA.MDB"] = "db"; }

  Outcome reindexName(std::u16string name) {
    dbname = std::move(name);
    return reindex(runtime, dbname);
  }

  FakeRuntime runtime;
  std::u16string dbname;
};

TEST_F(Reindex, BacksUpCompactsAndReplacesUnderTheUpperCaseName) {
  EXPECT_EQ(reindexName(u"data.mdb"), Outcome::compacted);
  EXPECT_EQ(dbname, u"DATA.MDB");
  EXPECT_THAT(runtime.calls,
              ElementsAre("createFolder(VARKOP\\)", "copyFile(DATA.MDB, VARKOP\\DATA.MDB)", "fileBehind(DATA.MDB)",
                          "createEngine()", "compactDatabase(DATA.MDB, DATA.MDN, " + locale + ")",
                          "replaceFile(DATA.MDN, DATA.MDB)"));
  EXPECT_THAT(runtime.messages, IsEmpty());
  EXPECT_EQ(runtime.files.at(u"DATA.MDB"), "compacted:db");
  EXPECT_EQ(runtime.files.at(u"VARKOP\\DATA.MDB"), "db");
  EXPECT_EQ(runtime.files.count(u"DATA.MDN"), 0u);
}

TEST_F(Reindex, UpperCasesBeyondAscii) {
  runtime.files[u"ČAŠA ŽIČNA.MDB"] = "db";
  EXPECT_EQ(reindexName(u"čaša žična.mdb"), Outcome::compacted);
  EXPECT_EQ(dbname, u"ČAŠA ŽIČNA.MDB");
}

TEST_F(Reindex, AnExistingBackupFolderIsNoObstacle) {
  runtime.folders.insert(u"VARKOP");
  runtime.files[u"VARKOP\\DATA.MDB"] = "older copy";
  EXPECT_EQ(reindexName(u"DATA.MDB"), Outcome::compacted);
  EXPECT_EQ(runtime.files.at(u"VARKOP\\DATA.MDB"), "db");

  // Any failure to create the folder is ignored; only the copy decides.
  FakeRuntime denied;
  denied.files[u"DATA.MDB"] = "db";
  denied.folders.insert(u"VARKOP");
  denied.failOperation("createFolder", 70);
  EXPECT_EQ(reindex(denied, dbname = u"DATA.MDB"), Outcome::compacted);
  EXPECT_THAT(denied.messages, IsEmpty());
}

TEST_F(Reindex, AFailedBackupEndsSilentlyAndTouchesNothing) {
  runtime.failOperation("copyFile", 70);
  EXPECT_EQ(reindexName(u"DATA.MDB"), Outcome::backupFailed);
  EXPECT_THAT(runtime.calls,
              ElementsAre("createFolder(VARKOP\\)", "copyFile(DATA.MDB, VARKOP\\DATA.MDB)", "resetMousePointer()"));
  EXPECT_THAT(runtime.messages, IsEmpty());
  EXPECT_EQ(runtime.files.at(u"DATA.MDB"), "db");
}

TEST_F(Reindex, AMissingDatabaseEndsSilentlyAfterCreatingTheBackupFolder) {
  EXPECT_EQ(reindexName(u"missing.mdb"), Outcome::backupFailed);
  EXPECT_EQ(runtime.folders.count(u"VARKOP"), 1u);
  EXPECT_THAT(runtime.messages, IsEmpty());
}

TEST_F(Reindex, ANameWhoseBackupWouldLeaveTheBackupFolderIsNotCopied) {
  for (const std::u16string& name :
       std::vector<std::u16string>{u"..\\DATA.MDB", u"../data.mdb", u"sub\\..\\..\\DATA.MDB", u"\\DATA.MDB",
                                   u"/tmp/data.mdb", u"C:\\DATA.MDB", u"c:DATA.MDB", u".."}) {
    FakeRuntime fresh;
    EXPECT_EQ(reindex(fresh, dbname = name), Outcome::backupFailed);
    EXPECT_THAT(fresh.calls, ElementsAre("createFolder(VARKOP\\)", "resetMousePointer()"));
  }
  // An ordinary folder part stays: the copy goes to the same folder inside VARKOP.
  runtime.files[u"SUB\\..DATA.MDB"] = "db";
  runtime.folders.insert(u"VARKOP\\SUB");
  EXPECT_EQ(reindexName(u"sub\\..data.mdb"), Outcome::compacted);
  EXPECT_EQ(runtime.calls[1], "copyFile(SUB\\..DATA.MDB, VARKOP\\SUB\\..DATA.MDB)");
}

TEST_F(Reindex, AFailureInsideTheReportGoesToTheCaller) {
  runtime.failOperation("compactDatabase", 75);
  runtime.failOperation("showMessage", 57);
  dbname = u"DATA.MDB";
  try {
    reindex(runtime, dbname);
    ADD_FAILURE() << "the report's failure was swallowed";
  } catch (const platform::RuntimeError& failure) {
    EXPECT_EQ(failure.number(), 57);
  }
}

TEST_F(Reindex, ANameEndingInNIsItsOwnTemporaryNameAndIsNotReplaced) {
  runtime.files[u"DATA.MDN"] = "db";
  EXPECT_EQ(reindexName(u"data.mdn"), Outcome::compactionFailed);
  ASSERT_EQ(runtime.messages.size(), 1u);
  EXPECT_EQ(runtime.messages[0].text, u"Napaka 3204 pri stiskanju baze!");
  EXPECT_EQ(runtime.files.at(u"DATA.MDN"), "db");
}

TEST_F(Reindex, ADatabaseBehindALinkIsCompactedWhereTheLinkPointsAndTheLinkStays) {
  runtime.links[u"DATA.MDB"] = u"/srv/shared/Data.mdb";
  runtime.files[u"/srv/shared/Data.mdb"] = "db";
  EXPECT_EQ(reindexName(u"data.mdb"), Outcome::compacted);
  EXPECT_EQ(runtime.files.at(u"VARKOP\\DATA.MDB"), "db");
  EXPECT_EQ(runtime.files.at(u"/srv/shared/Data.mdb"), "compacted:db");
  EXPECT_EQ(runtime.files.count(u"/srv/shared/Data.mdN"), 0u);
  EXPECT_EQ(runtime.links.at(u"DATA.MDB"), u"/srv/shared/Data.mdb");
  EXPECT_EQ(runtime.calls.back(), "replaceFile(/srv/shared/Data.mdN, /srv/shared/Data.mdb)");
}

TEST_F(Reindex, TheEngineIsCreatedOnceForTheProcess) {
  reindexName(u"DATA.MDB");
  runtime.files[u"OTHER.MDB"] = "db";
  reindexName(u"OTHER.MDB");
  EXPECT_EQ(std::count(runtime.calls.begin(), runtime.calls.end(), "createEngine()"), 1);
}

// Every step of the compaction phase, failing with every kind of number.
struct CompactionFailure {
  std::string step;
  std::int32_t number;
};

class ReindexCompactionFailure : public Reindex, public ::testing::WithParamInterface<CompactionFailure> {};

TEST_P(ReindexCompactionFailure, IsReportedBetweenTwoPointerResetsAndKeepsTheDatabase) {
  const auto& [step, number] = GetParam();
  runtime.failOperation(step, number);
  EXPECT_EQ(reindexName(u"data.mdb"), Outcome::compactionFailed);

  const std::optional<std::u16string> message = failureMessage(number);
  std::vector<std::string> tail{step == "createEngine" ? "createEngine()" : "replaceFile(DATA.MDN, DATA.MDB)",
                                "resetMousePointer()"};
  if (step == "compactDatabase") tail[0] = "compactDatabase(DATA.MDB, DATA.MDN, " + locale + ")";
  if (message) tail.push_back("showMessage(" + platform::toUtf8(*message) + ", Napaka)");
  tail.push_back("resetMousePointer()");
  ASSERT_GE(runtime.calls.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(runtime.calls.end() - static_cast<long>(tail.size()), runtime.calls.end()), tail);

  EXPECT_EQ(runtime.files.at(u"DATA.MDB"), "db");
  EXPECT_EQ(runtime.files.at(u"VARKOP\\DATA.MDB"), "db");
  // Whatever the engine wrote stays under the temporary name.
  EXPECT_EQ(runtime.files.count(u"DATA.MDN"), step == "replaceFile" ? 1u : 0u);
}

std::vector<CompactionFailure> everyStepAndKind() {
  std::vector<CompactionFailure> cases;
  for (const char* step : {"createEngine", "compactDatabase", "replaceFile"}) {
    for (const std::int32_t number : {0, 32755, 3356, 3196, 75, 70, 429, -2147221164}) cases.push_back({step, number});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryStep, ReindexCompactionFailure, ::testing::ValuesIn(everyStepAndKind()),
                         [](const ::testing::TestParamInfo<CompactionFailure>& failure) {
                           const std::int32_t number = failure.param.number;
                           return failure.param.step + (number < 0 ? "_minus" : "_") +
                                  std::to_string(number < 0 ? -static_cast<std::int64_t>(number) : number);
                         });

TEST(FailureMessage, FollowsTheReportTable) {
  EXPECT_EQ(failureMessage(0), std::nullopt);
  EXPECT_EQ(failureMessage(32755), std::nullopt);
  for (const std::int32_t inUse : {3356, 3196, 75}) EXPECT_EQ(failureMessage(inUse), u"Izbrana baza je v uporabi!");
  EXPECT_EQ(failureMessage(70), u"Napaka 70 pri stiskanju baze!");
  EXPECT_EQ(failureMessage(3204), u"Napaka 3204 pri stiskanju baze!");
  EXPECT_EQ(failureMessage(-2147467259), u"Napaka -2147467259 pri stiskanju baze!");
  EXPECT_EQ(failureMessage(-2147483647 - 1), u"Napaka -2147483648 pri stiskanju baze!");
}

TEST(Names, TemporaryNameReplacesTheLastCharacterWithN) {
  EXPECT_EQ(temporaryName(u"DATA.MDB"), u"DATA.MDN");
  EXPECT_EQ(temporaryName(u"DATA"), u"DATN");
  EXPECT_EQ(temporaryName(u"X"), u"N");
}

}  // namespace
}  // namespace compaction
