#include "platform/win32/win32_runtime.h"

#include <windows.h>

#include <cwchar>

#include "platform/command_line.h"

namespace platform {

Win32Runtime::Win32Runtime() = default;
Win32Runtime::~Win32Runtime() = default;

std::u16string Win32Runtime::commandLine() {
  const wchar_t* whole = GetCommandLineW();
  if (whole == nullptr) return {};
  const std::u16string text(whole, whole + std::wcslen(whole));
  return argumentsOfCommandLine(text);
}

DatabaseEngine& Win32Runtime::databaseEngine() {
  if (!engine_) engine_ = createDatabaseEngine(fileSystem_);
  return *engine_;
}

}  // namespace platform
