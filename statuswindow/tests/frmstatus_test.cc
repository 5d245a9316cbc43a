// The status window's logic, with a recordset and windows that exist only in memory.

#include "statuswindow/frmstatus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime_error.h"
#include "platform/testing/fake_forms.h"
#include "platform/testing/fake_recordset.h"
#include "startup/cancelled.h"

namespace statuswindow {
namespace {

using platform::testing::articles;
using platform::testing::FakeForms;
using platform::testing::FakeRecordset;
using ::testing::ElementsAre;

class FrmstatusTest : public ::testing::Test {
 protected:
  void SetUp() override { startup::cancelled = false; }

  std::shared_ptr<FakeRecordset> recordset(std::size_t n) { return std::make_shared<FakeRecordset>(articles(n), &log); }

  // Moves through the recordset as a caller does: from the first record until the window is
  // gone or the user aborts. Returns the moves made.
  int walk(Frmstatus& form, platform::Recordset& records) {
    int moves = 1;
    records.moveFirst();
    while (form.loaded() && !startup::cancelled && !records.eof()) {
      records.moveNext();
      ++moves;
    }
    return moves;
  }

  platform::testing::FakeWindow& window() { return *forms.windows.back(); }
  const std::vector<float>& bar() { return window().values[Frmstatus::ProgressBar1]; }
  std::u16string text(std::size_t control) { return window().texts[control].value_or(u"(never set)"); }

  std::vector<std::string> log;
  FakeForms forms{&log};
};

TEST_F(FrmstatusTest, LoadingBeforeRsIsAssignedLeavesTheLabelsUnbound) {
  startup::cancelled = true;
  Frmstatus form(forms);
  form.show();
  EXPECT_TRUE(form.loaded());
  EXPECT_TRUE(window().shown);
  EXPECT_FALSE(startup::cancelled);
  EXPECT_FALSE(window().texts[Frmstatus::Label2].has_value());
  EXPECT_FALSE(window().texts[Frmstatus::Label3].has_value());

  // A recordset assigned afterwards moves the bar, but the labels stay as they were.
  auto records = recordset(2);
  form.setRS(records);
  records->moveFirst();
  EXPECT_THAT(bar(), ElementsAre(50));
  EXPECT_FALSE(window().texts[Frmstatus::Label2].has_value());
}

TEST_F(FrmstatusTest, FourRecordsShowAQuarterEachAndTheMovePastTheLastClosesTheWindow) {
  auto records = recordset(4);
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  // Bound on load: the labels show the record the recordset opened on.
  EXPECT_EQ(text(Frmstatus::Label2), u"1");
  EXPECT_EQ(text(Frmstatus::Label3), u"A1");

  // By each repaint the labels already show the record the bar counts.
  std::vector<std::u16string> seenAtRepaint;
  forms.onPump = [&] { seenAtRepaint.push_back(text(Frmstatus::Label2) + u"/" + text(Frmstatus::Label3)); };
  startup::cancelled = false;
  EXPECT_EQ(walk(form, *records), 5);

  EXPECT_THAT(bar(), ElementsAre(25, 50, 75, 100));
  EXPECT_THAT(seenAtRepaint, ElementsAre(u"1/A1", u"2/A2", u"3/A3", u"4/A4"));
  EXPECT_FALSE(form.loaded());
  EXPECT_FALSE(window().open);
  EXPECT_FALSE(startup::cancelled);
  EXPECT_EQ(form.RS(), nullptr);
  EXPECT_EQ(records.use_count(), 1) << "the window and its labels let go of the recordset";
}

TEST_F(FrmstatusTest, ReachingTheEndLeavesCancelledAsItWas) {
  auto records = recordset(1);
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  // A caller may raise the flag for its own reasons after the load; the end does not clear it.
  startup::cancelled = true;
  records->moveFirst();
  records->moveNext();
  EXPECT_FALSE(form.loaded());
  EXPECT_TRUE(startup::cancelled);
}

TEST_F(FrmstatusTest, ACallerMayMoveThroughTheWindowsOwnReferenceUntilTheEndClosesIt) {
  Frmstatus form(forms);
  form.setRS(recordset(2));
  form.show();
  form.RS()->moveFirst();
  form.RS()->moveNext();
  // This move closes the window, which lets go of the only other reference.
  form.RS()->moveNext();
  EXPECT_FALSE(form.loaded());
  EXPECT_EQ(form.RS(), nullptr);
  EXPECT_THAT(bar(), ElementsAre(50, 100));
}

TEST_F(FrmstatusTest, PrekiniSetsCancelledClosesAndReleasesRsAndTheNextLoadClearsIt) {
  auto records = recordset(4);
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  records->moveFirst();
  forms.clickAtNextPump(Frmstatus::Command1);
  log.clear();
  records->moveNext();

  EXPECT_TRUE(startup::cancelled);
  EXPECT_FALSE(form.loaded());
  EXPECT_FALSE(window().open);
  EXPECT_EQ(form.RS(), nullptr);
  EXPECT_EQ(records.use_count(), 1);
  EXPECT_THAT(bar(), ElementsAre(25, 50));
  // The click came inside the window's own message pump, with the caller's move on the stack:
  // nothing touched the recordset after it.
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "pump");

  // The caller goes on moving (it reads the flag only now): the window hears nothing more.
  records->moveNext();
  EXPECT_THAT(bar(), ElementsAre(25, 50));
  EXPECT_EQ(forms.windows.size(), 1U);

  form.setRS(records);
  form.load();
  EXPECT_FALSE(startup::cancelled);
  EXPECT_EQ(forms.windows.size(), 2U);
  EXPECT_EQ(text(Frmstatus::Label2), u"3");
}

TEST_F(FrmstatusTest, PrekiniBetweenMovesStopsTheCallerBeforeItsNextMove) {
  auto records = recordset(4);
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  records->moveFirst();
  // The caller pumps while it waits between moves; the press takes effect there.
  forms.clickAtNextPump(Frmstatus::Command1);
  forms.processPendingMessages();
  EXPECT_TRUE(startup::cancelled);
  EXPECT_FALSE(form.loaded());
}

TEST_F(FrmstatusTest, TheCloseCommandUnloadsAndReleasesRsWithoutCancelling) {
  auto records = recordset(4);
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  records->moveFirst();
  forms.closeAtNextPump();
  records->moveNext();
  EXPECT_FALSE(form.loaded());
  EXPECT_FALSE(startup::cancelled);
  EXPECT_EQ(form.RS(), nullptr);
  EXPECT_EQ(records.use_count(), 1);

  // Unloading by the caller does the same, and a second unload does nothing.
  form.setRS(records);
  form.show();
  form.unload();
  form.unload();
  EXPECT_FALSE(startup::cancelled);
  EXPECT_EQ(records.use_count(), 1);
}

TEST_F(FrmstatusTest, ARecordsetWithoutTheBoundFieldsStillDrivesTheBar) {
  auto records = std::make_shared<FakeRecordset>(std::vector<FakeRecordset::Record>{{{u"naziv", u"x"}}}, &log);
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  EXPECT_FALSE(window().texts[Frmstatus::Label2].has_value());
  EXPECT_FALSE(window().texts[Frmstatus::Label3].has_value());
  records->moveFirst();
  EXPECT_THAT(bar(), ElementsAre(100));
}

// What would have ended the program: the bar refuses values outside 0 to 100, and a count of 0
// divides by zero. The window shows 0 or the nearest end instead, and the pass goes on.
TEST_F(FrmstatusTest, CountsAndPositionsOutOfRangeShowZeroOrTheNearestEndAndThePassGoesOn) {
  struct Case {
    const char* what;
    std::int32_t count;
    std::int32_t shift;
    std::vector<float> expected;
  };
  const std::vector<Case> cases = {
      {"a count of 0 with records", 0, 0, {0, 0, 0}},
      {"an unknown count", platform::Recordset::kCountUnknown, 0, {0, 0, 0}},
      {"positions past the count", 3, 2, {100, 100, 100}},
      {"positions before the first", 3, -3, {0, 0, 0}},
      {"a negative count", -7, 0, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto records = recordset(3);
    records->reportedCount = c.count;
    records->positionShift = c.shift;
    Frmstatus form(forms);
    form.setRS(records);
    form.show();
    EXPECT_NO_THROW(walk(form, *records));
    EXPECT_EQ(bar(), c.expected);
    EXPECT_FALSE(form.loaded()) << "the end still closes the window";
  }
}

TEST_F(FrmstatusTest, AnEmptyRecordsetClosesTheWindowOnItsFirstMove) {
  auto records = recordset(0);
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  EXPECT_EQ(text(Frmstatus::Label2), u"");
  records->moveFirst();
  EXPECT_FALSE(form.loaded());
  EXPECT_TRUE(bar().empty());
}

TEST_F(FrmstatusTest, MovesBeforeTheWindowLoadsAreIgnored) {
  auto records = recordset(2);
  Frmstatus form(forms);
  form.setRS(records);
  records->moveFirst();
  records->moveNext();
  records->moveNext();
  EXPECT_TRUE(forms.windows.empty());
  EXPECT_EQ(form.RS(), records);
}

}  // namespace
}  // namespace statuswindow
