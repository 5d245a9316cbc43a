#pragma once
// The run-time's error numbers that the platform layer raises and the callers test.

#include <cstdint>

namespace platform::error {

inline constexpr std::int32_t overflow = 6;
inline constexpr std::int32_t outOfMemory = 7;
inline constexpr std::int32_t internalError = 51;
inline constexpr std::int32_t badFileName = 52;
inline constexpr std::int32_t fileNotFound = 53;
inline constexpr std::int32_t deviceIoError = 57;
inline constexpr std::int32_t fileAlreadyExists = 58;
inline constexpr std::int32_t diskFull = 61;
inline constexpr std::int32_t permissionDenied = 70;
inline constexpr std::int32_t pathFileAccessError = 75;
inline constexpr std::int32_t pathNotFound = 76;
inline constexpr std::int32_t cannotCreateObject = 429;
// The number a common dialog raises when its user cancels.
inline constexpr std::int32_t cancelledByUser = 32755;

}  // namespace platform::error
