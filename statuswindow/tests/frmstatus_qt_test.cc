// The status window drawn by Qt, off screen: geometry from twips, captions, tab order, the
// labels bound to the recordset, and the two ways a user closes it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <cstdlib>
#include <memory>

#include "platform/qt_forms.h"
#include "platform/testing/fake_recordset.h"
#include "startup/cancelled.h"
#include "statuswindow/frmstatus.h"

namespace statuswindow {
namespace {

struct Box {
  int x, y, width, height;
  friend bool operator==(const Box&, const Box&) = default;
};

Box boxOf(const QWidget* w) { return {w->x(), w->y(), w->width(), w->height()}; }

void PrintTo(const Box& b, std::ostream* os) { *os << b.x << "," << b.y << " " << b.width << "x" << b.height; }

class FrmstatusQt : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ::setenv("QT_QPA_PLATFORM", "offscreen", 1); }
  void SetUp() override { startup::cancelled = false; }

  // The open window of that caption (a closed one is hidden until Qt deletes it).
  static QWidget* window() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->windowTitle() == "Obdelava v teku" && w->isVisible()) return w;
    }
    return nullptr;
  }
  template <class W>
  static W* control(const char* name) {
    return window() != nullptr ? window()->findChild<W*>(name) : nullptr;
  }
};

TEST_F(FrmstatusQt, TwipsBecomePixelsForTheScreensResolution) {
  {
    platform::QtForms forms(96);
    Frmstatus form(forms);
    form.show();
    ASSERT_NE(window(), nullptr);
    EXPECT_EQ(window()->size(), QSize(409, 140));
    EXPECT_EQ(boxOf(control<QProgressBar>("ProgressBar1")), (Box{16, 48, 385, 25}));
    EXPECT_EQ(boxOf(control<QLabel>("Label1")), (Box{16, 16, 257, 25}));
    EXPECT_EQ(boxOf(control<QLabel>("Label2")), (Box{96, 16, 65, 17}));
    EXPECT_EQ(boxOf(control<QLabel>("Label3")), (Box{168, 16, 105, 17}));
    EXPECT_EQ(boxOf(control<QPushButton>("Command1")), (Box{344, 104, 65, 25}));
    EXPECT_EQ(boxOf(control<QLabel>("Label4")), (Box{280, 16, 121, 17}));
  }
  platform::QtForms forms(144);
  Frmstatus form(forms);
  form.show();
  ASSERT_NE(window(), nullptr);
  EXPECT_EQ(window()->size(), QSize(614, 210));
  EXPECT_EQ(boxOf(control<QProgressBar>("ProgressBar1")), (Box{24, 72, 578, 38}));
  EXPECT_EQ(boxOf(control<QLabel>("Label1")), (Box{24, 24, 385, 37}));
  EXPECT_EQ(boxOf(control<QPushButton>("Command1")), (Box{516, 156, 98, 38}));
}

TEST_F(FrmstatusQt, CaptionsRangeAndTabOrder) {
  platform::QtForms forms;
  Frmstatus form(forms);
  form.show();
  ASSERT_NE(window(), nullptr);
  EXPECT_EQ(control<QLabel>("Label1")->text(), "Skl, Artikel:");
  EXPECT_EQ(control<QPushButton>("Command1")->text(), "Prekini");
  EXPECT_EQ(control<QLabel>("Label4")->text(), "");
  auto* bar = control<QProgressBar>("ProgressBar1");
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 0);

  QStringList order;
  QWidget* w = bar;
  for (int k = 0; k < 6; ++k, w = w->nextInFocusChain()) order << w->objectName();
  EXPECT_EQ(order, QStringList({"ProgressBar1", "Label1", "Label2", "Label3", "Command1", "Label4"}));
}

TEST_F(FrmstatusQt, LabelsFollowTheRecordsetAndPrekiniClosesTheWindow) {
  platform::QtForms forms;
  auto records = std::make_shared<platform::testing::FakeRecordset>(platform::testing::articles(4));
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  records->moveFirst();
  records->moveNext();
  EXPECT_EQ(control<QLabel>("Label2")->text(), "2");
  EXPECT_EQ(control<QLabel>("Label3")->text(), "A2");
  EXPECT_EQ(control<QProgressBar>("ProgressBar1")->value(), 50);

  QPointer<QWidget> shown = window();
  control<QPushButton>("Command1")->click();
  EXPECT_TRUE(startup::cancelled);
  EXPECT_FALSE(form.loaded());
  EXPECT_EQ(window(), nullptr);
  forms.processPendingMessages();
  EXPECT_TRUE(shown.isNull()) << "the widget is deleted once Qt is back in its loop";
  EXPECT_EQ(records.use_count(), 1);
}

TEST_F(FrmstatusQt, TheWindowsOwnCloseCommandUnloadsWithoutCancelling) {
  platform::QtForms forms;
  auto records = std::make_shared<platform::testing::FakeRecordset>(platform::testing::articles(4));
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  records->moveFirst();
  ASSERT_NE(window(), nullptr);
  window()->close();
  EXPECT_FALSE(form.loaded());
  EXPECT_FALSE(startup::cancelled);
  EXPECT_EQ(window(), nullptr);
  // The caller's next move reaches nothing.
  records->moveNext();
  EXPECT_EQ(records.use_count(), 1);
}

}  // namespace
}  // namespace statuswindow
