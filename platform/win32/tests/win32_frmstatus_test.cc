// The status window drawn by Win32: the design's twips as pixels for the screen, the labels bound to the
// recordset, the system's progress bar following it, and the two ways a user closes the window.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/testing/fake_recordset.h"
#include "platform/win32/win32_forms.h"
#include "startup/cancelled.h"
#include "statuswindow/frmstatus.h"

namespace statuswindow {
namespace {

// The controls' identifiers: 100 plus their place in the design.
enum : int { bar = 100, label1, label2, label3, command1, label4 };

HWND window() { return FindWindowW(L"JetcompactForm", L"Obdelava v teku"); }

std::wstring textOf(int control) {
  wchar_t text[64] = {};
  GetWindowTextW(GetDlgItem(window(), control), text, 64);
  return text;
}

struct Box {
  long x, y, width, height;
  friend bool operator==(const Box&, const Box&) = default;
};

void PrintTo(const Box& b, std::ostream* os) { *os << b.x << "," << b.y << " " << b.width << "x" << b.height; }

Box boxOf(int control) {
  HWND child = GetDlgItem(window(), control);
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, window(), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

class FrmstatusWin32 : public ::testing::Test {
 protected:
  void SetUp() override { startup::cancelled = false; }
};

TEST_F(FrmstatusWin32, TwipsBecomePixelsForTheScreensResolution) {
  platform::Win32Forms forms(96);
  Frmstatus form(forms);
  form.show();
  ASSERT_NE(window(), nullptr);
  RECT client{};
  GetClientRect(window(), &client);
  EXPECT_EQ(client.right, 409);
  EXPECT_EQ(client.bottom, 140);
  EXPECT_EQ(boxOf(bar), (Box{16, 48, 385, 25}));
  EXPECT_EQ(boxOf(label1), (Box{16, 16, 257, 25}));
  EXPECT_EQ(boxOf(label2), (Box{96, 16, 65, 17}));
  EXPECT_EQ(boxOf(label3), (Box{168, 16, 105, 17}));
  EXPECT_EQ(boxOf(command1), (Box{344, 104, 65, 25}));
  EXPECT_EQ(boxOf(label4), (Box{280, 16, 121, 17}));

  wchar_t kind[64] = {};
  GetClassNameW(GetDlgItem(window(), bar), kind, 64);
  EXPECT_EQ(std::wstring(kind), L"msctls_progress32");
  EXPECT_EQ(textOf(label1), L"Skl, Artikel:");
  EXPECT_EQ(textOf(command1), L"Prekini");
  EXPECT_EQ(SendMessageW(GetDlgItem(window(), bar), PBM_GETRANGE, FALSE, 0), 100);
  // Created in the design's order, which is the tab order.
  HWND next = GetDlgItem(window(), bar);
  for (int id : {label1, label2, label3, command1, label4}) {
    next = GetWindow(next, GW_HWNDNEXT);
    EXPECT_EQ(GetDlgCtrlID(next), id);
  }
}

TEST_F(FrmstatusWin32, LabelsAndTheBarFollowTheRecordsetAndPrekiniClosesTheWindow) {
  platform::Win32Forms forms(96);
  auto records = std::make_shared<platform::testing::FakeRecordset>(platform::testing::articles(4));
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  records->moveFirst();
  records->moveNext();
  EXPECT_EQ(textOf(label2), L"2");
  EXPECT_EQ(textOf(label3), L"A2");
  EXPECT_EQ(SendMessageW(GetDlgItem(window(), bar), PBM_GETPOS, 0, 0), 50);

  SendMessageW(GetDlgItem(window(), command1), BM_CLICK, 0, 0);
  forms.processPendingMessages();
  EXPECT_TRUE(startup::cancelled);
  EXPECT_FALSE(form.loaded());
  EXPECT_EQ(window(), nullptr);
  EXPECT_EQ(records.use_count(), 1);
}

TEST_F(FrmstatusWin32, TheWindowsOwnCloseCommandUnloadsWithoutCancelling) {
  platform::Win32Forms forms(96);
  auto records = std::make_shared<platform::testing::FakeRecordset>(platform::testing::articles(4));
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  records->moveFirst();
  ASSERT_NE(window(), nullptr);
  PostMessageW(window(), WM_CLOSE, 0, 0);
  forms.processPendingMessages();
  EXPECT_FALSE(form.loaded());
  EXPECT_FALSE(startup::cancelled);
  EXPECT_EQ(window(), nullptr);
  records->moveNext();  // reaches nothing
  EXPECT_EQ(records.use_count(), 1);
}

}  // namespace
}  // namespace statuswindow
