#include "platform/win32/win32_errors.h"

#include <windows.h>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"

namespace platform {

std::int32_t runtimeErrorNumber(std::uint32_t systemError) {
  switch (systemError) {
    case ERROR_FILE_NOT_FOUND: return error::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY: return error::kPathNotFound;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return error::kPathFileAccessError;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED: return error::kPermissionDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return error::kFileAlreadyExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return error::kDiskFull;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_IO_DEVICE: return error::kDeviceIoError;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return error::kBadFileName;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return error::kOutOfMemory;
    default: return error::kPathFileAccessError;
  }
}

void failWithLastError() { throw RuntimeError(runtimeErrorNumber(GetLastError())); }

}  // namespace platform
