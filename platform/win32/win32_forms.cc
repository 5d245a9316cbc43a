#include "platform/win32/win32_forms.h"

#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"

namespace platform {
namespace {

constexpr wchar_t kWindowClass[] = L"JetcompactForm";
// Child windows' identifiers: the control's place in the design, past the system's own (IDOK, IDCANCEL, ...).
constexpr int kFirstControlId = 100;

std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

class Win32FormView;

LRESULT CALLBACK formProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void registerClass() {
  static const bool registered = [] {
    WNDCLASSEXW description{};
    description.cbSize = sizeof description;
    description.lpfnWndProc = formProcedure;
    description.hInstance = GetModuleHandleW(nullptr);
    description.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    description.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    description.lpszClassName = kWindowClass;
    return RegisterClassExW(&description) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered) throw RuntimeError(error::kInternalError, "The window class could not be registered");
  static const bool controls = [] {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    return InitCommonControlsEx(&classes) != FALSE;
  }();
  if (!controls) throw RuntimeError(error::kInternalError, "The common controls could not be loaded");
}

class Win32FormView final : public FormView {
 public:
  Win32FormView(const FormDesign& design, FormEvents& events, double dotsPerInch) : design_(design), events_(&events) {
    registerClass();
    auto px = [dotsPerInch](std::int32_t twips) { return twipsToPixels(twips, dotsPerInch); };
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD extendedStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT frame{0, 0, px(design.clientWidth), px(design.clientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, extendedStyle);
    window_ = CreateWindowExW(extendedStyle, kWindowClass, wide(design.caption).c_str(), style, CW_USEDEFAULT,
                              CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                              GetModuleHandleW(nullptr), this);
    if (window_ == nullptr) throw RuntimeError(error::kOutOfMemory, "The window could not be created");
    const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    for (std::size_t k = 0; k < design.controls.size(); ++k) {
      const ControlDesign& c = design.controls[k];
      const wchar_t* kind = L"STATIC";
      DWORD controlStyle = WS_CHILD | WS_VISIBLE;
      switch (c.kind) {
        case ControlKind::label: controlStyle |= SS_LEFT | SS_NOPREFIX; break;
        case ControlKind::progressBar:
          kind = PROGRESS_CLASSW;
          controlStyle |= WS_TABSTOP;
          break;
        case ControlKind::pushButton:
          kind = L"BUTTON";
          controlStyle |= BS_PUSHBUTTON | WS_TABSTOP;
          break;
      }
      // Created in the design's order, which is the tab order.
      HWND control = CreateWindowExW(0, kind, wide(c.caption).c_str(), controlStyle, px(c.bounds.left),
                                     px(c.bounds.top), px(c.bounds.width), px(c.bounds.height), window_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + k)),
                                     GetModuleHandleW(nullptr), nullptr);
      if (control == nullptr) {
        DestroyWindow(window_);
        throw RuntimeError(error::kOutOfMemory, "A control could not be created");
      }
      SendMessageW(control, WM_SETFONT, font, FALSE);
      if (c.kind == ControlKind::progressBar) {
        SendMessageW(control, PBM_SETRANGE32, static_cast<WPARAM>(std::lround(c.minimum)),
                     static_cast<LPARAM>(std::lround(c.maximum)));
        SendMessageW(control, PBM_SETPOS, static_cast<WPARAM>(std::lround(c.minimum)), 0);
      }
      controls_.push_back(control);
    }
  }

  // May run inside one of the window's own callbacks (a click on its button): the window procedure looks the view
  // up again after every callback, and finds it gone.
  ~Win32FormView() override {
    events_ = nullptr;
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }

  void show() override {
    ShowWindow(window_, SW_SHOWNORMAL);
    SetForegroundWindow(window_);
    UpdateWindow(window_);
  }

  void setText(std::size_t control, const std::u16string& text) override {
    if (design_.controls.at(control).kind != ControlKind::label) return;
    SetWindowTextW(controls_.at(control), wide(text).c_str());
  }

  void setValue(std::size_t control, float value) override {
    checkBarValue(design_.controls.at(control), value);
    if (design_.controls.at(control).kind != ControlKind::progressBar) return;
    SendMessageW(controls_.at(control), PBM_SETPOS, static_cast<WPARAM>(std::lround(value)), 0);
  }

  // `window` is the view's own window, also while it is being created (before window_ is set).
  LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) == BN_CLICKED && id >= kFirstControlId &&
            static_cast<std::size_t>(id - kFirstControlId) < controls_.size()) {
          events_->clicked(static_cast<std::size_t>(id - kFirstControlId));
        }
        return 0;
      }
      case WM_CLOSE:
        events_->closeRequested();  // the owner decides; the window goes when the view does
        return 0;
      default: return DefWindowProcW(window, message, wParam, lParam);
    }
  }

 private:
  FormDesign design_;
  FormEvents* events_;
  HWND window_ = nullptr;
  std::vector<HWND> controls_;  // in the design's order
};

LRESULT CALLBACK formProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* view = reinterpret_cast<Win32FormView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return view->handle(window, message, wParam, lParam);
}

}  // namespace

Win32Forms::Win32Forms(double dotsPerInch) : dotsPerInch_(dotsPerInch) {}
Win32Forms::~Win32Forms() = default;

std::unique_ptr<FormView> Win32Forms::create(const FormDesign& design, FormEvents& events) {
  double dpi = dotsPerInch_;
  if (dpi <= 0) {
    HDC screen = GetDC(nullptr);
    dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    if (dpi <= 0) dpi = 96;
  }
  return std::make_unique<Win32FormView>(design, events, dpi);
}

void Win32Forms::processPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // for whoever runs the main loop
      return;
    }
    // Tab, Return and Escape move between and press the window's controls, as in a dialog.
    HWND top = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    wchar_t className[32] = {};
    if (top != nullptr && GetClassNameW(top, className, 32) > 0 && std::wstring(className) == kWindowClass &&
        IsDialogMessageW(top, &message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace platform
