#include "platform/win32/win32_forms.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/runtime_error.h"

namespace platform {
namespace {

// A design like the status window's: a bar, a label and a button, in twips.
FormDesign design() {
  FormDesign d;
  d.caption = u"Win32Forms test";  // its own: the status window's tests may run beside it
  d.clientWidth = 6135;
  d.clientHeight = 2100;
  d.controls = {
      {u"ProgressBar1", ControlKind::progressBar, {240, 720, 5775, 375}, u"", u"", 0, 100},
      {u"Label1", ControlKind::label, {240, 240, 3852, 372}, u"Skl, Artikel:", u"", 0, 100},
      {u"Command1", ControlKind::pushButton, {5160, 1560, 975, 375}, u"Prekini", u"", 0, 100},
  };
  return d;
}

struct Recorder final : FormEvents {
  std::vector<std::size_t> clicks;
  int closeRequests = 0;
  std::unique_ptr<FormView>* closeOnClick = nullptr;
  void clicked(std::size_t control) override {
    clicks.push_back(control);
    if (closeOnClick != nullptr) closeOnClick->reset();  // the window goes from inside its own callback
  }
  void closeRequested() override { ++closeRequests; }
};

HWND formWindow() { return FindWindowW(L"JetcompactForm", L"Win32Forms test"); }

std::wstring classOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

RECT placeOf(HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

TEST(Win32Forms, DrawsTheDesignWithTheSystemsControlsAtItsPlacesInPixels) {
  Win32Forms forms(96);  // 15 twips a pixel
  Recorder events;
  auto view = forms.create(design(), events);
  view->show();
  forms.processPendingMessages();
  HWND window = formWindow();
  ASSERT_NE(window, nullptr);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 409);   // 6135 / 15
  EXPECT_EQ(client.bottom, 140);  // 2100 / 15

  HWND bar = GetDlgItem(window, 100);
  HWND label = GetDlgItem(window, 101);
  HWND button = GetDlgItem(window, 102);
  EXPECT_EQ(classOf(bar), L"msctls_progress32");
  EXPECT_EQ(classOf(label), L"Static");
  EXPECT_EQ(classOf(button), L"Button");
  const RECT at = placeOf(bar);
  EXPECT_EQ(at.left, 16);
  EXPECT_EQ(at.top, 48);
  EXPECT_EQ(at.right - at.left, 385);
  EXPECT_EQ(at.bottom - at.top, 25);
  wchar_t text[32] = {};
  GetWindowTextW(button, text, 32);
  EXPECT_EQ(std::wstring(text), L"Prekini");
  // Created in the design's order, which is the tab order.
  EXPECT_EQ(GetWindow(bar, GW_HWNDNEXT), label);
  EXPECT_EQ(GetWindow(label, GW_HWNDNEXT), button);

  view->setValue(0, 25.0f);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 25);
  view->setValue(0, 100.0f);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);
  try {
    view->setValue(0, 100.5f);
    FAIL() << "a value past the bar's maximum was taken";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), 380);
  }
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);

  view->setText(1, u"0012 A-7");
  GetWindowTextW(label, text, 32);
  EXPECT_EQ(std::wstring(text), L"0012 A-7");

  view.reset();
  forms.processPendingMessages();
  EXPECT_EQ(formWindow(), nullptr);
}

TEST(Win32Forms, TheButtonAndTheCloseCommandReachTheOwner) {
  Win32Forms forms(96);
  Recorder events;
  std::unique_ptr<FormView> view = forms.create(design(), events);
  view->show();
  HWND window = formWindow();
  ASSERT_NE(window, nullptr);

  PostMessageW(window, WM_CLOSE, 0, 0);
  forms.processPendingMessages();
  EXPECT_EQ(events.closeRequests, 1);
  EXPECT_NE(formWindow(), nullptr);  // the owner decides

  events.closeOnClick = &view;
  SendMessageW(GetDlgItem(window, 102), BM_CLICK, 0, 0);
  forms.processPendingMessages();
  EXPECT_EQ(events.clicks, std::vector<std::size_t>{2});
  EXPECT_EQ(view, nullptr);
  EXPECT_EQ(formWindow(), nullptr);
}

}  // namespace
}  // namespace platform
