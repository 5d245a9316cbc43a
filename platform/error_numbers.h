#pragma once
// The run-time's error numbers that the platform layer raises and the callers test.

#include <cstdint>

namespace platform::error {

inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kOutOfMemory = 7;
inline constexpr std::int32_t kInternalError = 51;
inline constexpr std::int32_t kBadFileName = 52;
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kDeviceIoError = 57;
inline constexpr std::int32_t kFileAlreadyExists = 58;
inline constexpr std::int32_t kDiskFull = 61;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kPathFileAccessError = 75;
inline constexpr std::int32_t kPathNotFound = 76;
inline constexpr std::int32_t kCannotCreateObject = 429;
// The number a common dialog raises when its user cancels.
inline constexpr std::int32_t kCancelledByUser = 32755;
// An object variable that holds nothing was used (a window bound to a recordset not assigned yet).
inline constexpr std::int32_t kObjectNotSet = 91;
// A control refused a value outside its range.
inline constexpr std::int32_t kInvalidPropertyValue = 380;
// A recordset has no current record (before the first or after the last).
inline constexpr std::int32_t kNoCurrentRecord = 3021;
// A recordset has no field of that name.
inline constexpr std::int32_t kItemNotFound = 3265;

}  // namespace platform::error
