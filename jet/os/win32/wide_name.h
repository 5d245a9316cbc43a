#pragma once
// The engine's names are UTF-8; Windows's are UTF-16. For the files of jet/os/win32 only.

#include <windows.h>

#include <string>

#include "jet/os/unicode.h"

namespace jet::win32 {

inline std::wstring wideName(const std::string& path) {
  const std::u16string wide = unicode::fromUtf8(path);
  return std::wstring(wide.begin(), wide.end());
}

inline std::string utf8Name(const wchar_t* name) {
  const std::wstring wide(name);
  return unicode::toUtf8(std::u16string(wide.begin(), wide.end()));
}

// The system's description of an error code, for messages.
inline std::string describe(DWORD code) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string description = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!description.empty() &&
         (description.back() == '\n' || description.back() == '\r' || description.back() == '.')) {
    description.pop_back();
  }
  return description;
}

}  // namespace jet::win32
