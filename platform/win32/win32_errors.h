#pragma once
// The run-time's numbers for the system's error codes (GetLastError), so that a failing file operation on Windows
// reports what it reports on every other system.

#include <cstdint>

namespace platform {

// 53 file not found, 76 path not found, 75 path/file access error (a sharing violation or a lock included), 70
// permission denied, 58 file already exists, 61 disk full, 57 device I/O error, 52 bad file name, 7 out of memory;
// any other code is a path/file access error.
std::int32_t runtimeErrorNumber(std::uint32_t systemError);

// Throws the RuntimeError for the calling thread's last system error.
[[noreturn]] void failWithLastError();

}  // namespace platform
