#pragma once
// The engine's names are UTF-8; Windows's are UTF-16.

#include <windows.h>

#include <string>

namespace jet::win32 {

// The name as the system takes it. Bytes that are not UTF-8 make a name no file has.
inline std::wstring wideName(const std::string& path) {
  if (path.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (length <= 0) return L"?";
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
  return wide;
}

// The system's description of an error code, for messages.
inline std::string describe(DWORD code) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string description = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!description.empty() && (description.back() == '\n' || description.back() == '\r' || description.back() == '.')) {
    description.pop_back();
  }
  return description;
}

}  // namespace jet::win32
