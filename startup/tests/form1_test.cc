#include "startup/form1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/runtime_error.h"
#include "platform/testing/fake_runtime.h"
#include "startup/exit_status.h"
#include "startup/run.h"

namespace startup {
namespace {

using platform::testing::FakeRuntime;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(Form1Load, AnEmptyFirstFieldEndsTheRunWithoutTouchingAnything) {
  for (const std::u16string& line :
       std::vector<std::u16string>{u"", u"    ", u",data.mdb", u"  ;data.mdb", u"\"\",data.mdb"}) {
    FakeRuntime runtime;
    runtime.commandLineText = line;
    Form1 form(runtime);
    form.Form_Load();
    EXPECT_THAT(runtime.calls, ElementsAre("commandLine()"));
    EXPECT_FALSE(form.outcome().has_value());
    EXPECT_EQ(run(runtime), exitCompactedOrNothingToDo);
  }
}

TEST(Form1Load, EntersTheExecutablesFolderThenCompactsTheTrimmedFirstField) {
  FakeRuntime runtime;
  runtime.commandLineText = u"  \"my data.mdb\",other.mdb  ";
  runtime.files[u"MY DATA.MDB"] = "db";
  Form1 form(runtime);
  form.Form_Load();
  ASSERT_GE(runtime.calls.size(), 4u);
  EXPECT_THAT(std::vector<std::string>(runtime.calls.begin(), runtime.calls.begin() + 5),
              ElementsAre("commandLine()", "executableFolder()", "changeCurrentFolder(C:\\PROGRAM)",
                          "createFolder(VARKOP\\)", "copyFile(MY DATA.MDB, VARKOP\\MY DATA.MDB)"));
  EXPECT_EQ(form.outcome(), compaction::Outcome::compacted);
  EXPECT_EQ(runtime.files.count(u"OTHER.MDB"), 0u);
}

TEST(Form1Load, AFolderThatCannotBeEnteredIsNotTrapped) {
  FakeRuntime runtime;
  runtime.commandLineText = u"data.mdb";
  runtime.failOperation("changeCurrentFolder", 76);
  Form1 form(runtime);
  EXPECT_THROW(form.Form_Load(), platform::RuntimeError);
  EXPECT_EQ(runtime.calls.back(), "changeCurrentFolder(C:\\PROGRAM)");
}

TEST(Run, MapsEachEndingToItsExitStatus) {
  {
    FakeRuntime runtime;  // the database is not there: the backup fails
    runtime.commandLineText = u"data.mdb";
    EXPECT_EQ(run(runtime), exitBackupFailed);
    EXPECT_THAT(runtime.messages, IsEmpty());
  }
  {
    FakeRuntime runtime;
    runtime.commandLineText = u"data.mdb";
    runtime.files[u"DATA.MDB"] = "db";
    EXPECT_EQ(run(runtime), exitCompactedOrNothingToDo);
  }
  for (const std::int32_t number : {429, 0, 32755}) {  // a failure the report swallows still counts
    FakeRuntime runtime;
    runtime.commandLineText = u"data.mdb";
    runtime.files[u"DATA.MDB"] = "db";
    runtime.failOperation("createEngine", number);
    EXPECT_EQ(run(runtime), exitCompactionFailed) << number;
  }
}

TEST(Run, ReportsAnUntrappedFailureWithItsNumberAndDescription) {
  FakeRuntime runtime;
  runtime.commandLineText = u"data.mdb";
  runtime.failOperation("changeCurrentFolder", 76);
  EXPECT_EQ(run(runtime), exitUntrappedFailure);
  ASSERT_EQ(runtime.messages.size(), 1u);
  EXPECT_EQ(runtime.messages[0].text, u"Run-time error '76':\n\nPath not found");
  EXPECT_THAT(runtime.calls, ::testing::Not(::testing::Contains("createFolder(VARKOP\\)")));
}

TEST(Run, AFailureWhileReportingACompactionFailureEndsTheRunAsUntrapped) {
  FakeRuntime runtime;
  runtime.commandLineText = u"data.mdb";
  runtime.files[u"DATA.MDB"] = "db";
  runtime.failOperation("compactDatabase", 3356);
  runtime.failOperation("showMessage", 57);  // no box can be shown, not even the run-time's own
  testing::internal::CaptureStderr();
  EXPECT_EQ(run(runtime), exitUntrappedFailure);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Run-time error '57':\n\nDevice I/O error\n");
  EXPECT_EQ(runtime.files.at(u"DATA.MDB"), "db");
}

}  // namespace
}  // namespace startup
