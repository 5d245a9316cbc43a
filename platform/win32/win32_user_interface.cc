#include "platform/win32/win32_user_interface.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace platform {

void Win32UserInterface::showMessage(const std::u16string& text, const std::u16string& title) {
  const std::wstring wideText(text.begin(), text.end());
  const std::wstring wideTitle(title.begin(), title.end());
  // No owner window exists: task-modal keeps every window of the program behind the box until it is closed, and
  // the box comes to the front, as the program was started from elsewhere.
  if (MessageBoxW(nullptr, wideText.c_str(), wideTitle.c_str(), MB_OK | MB_TASKMODAL | MB_SETFOREGROUND) != 0) return;
  // No box (no desktop to show it on): the error stream, where the program has one.
  const std::string line = toUtf8(title) + ": " + toUtf8(text) + "\n";
  if (std::fputs(line.c_str(), stderr) < 0 || std::fflush(stderr) != 0) throw RuntimeError(error::kDeviceIoError);
}

void Win32UserInterface::resetMousePointer() { SetCursor(LoadCursorW(nullptr, IDC_ARROW)); }

void Win32UserInterface::processPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Not ours to take: whoever runs the main loop must still see it.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace platform
