#include "platform/runtime_error.h"

#include "platform/error_numbers.h"

namespace platform {

RuntimeError::RuntimeError(std::int32_t number, const std::string& description)
    : std::runtime_error(description), number_(number), description_(description) {}

RuntimeError::RuntimeError(std::int32_t number) : RuntimeError(number, standardDescription(number)) {}

std::string standardDescription(std::int32_t number) {
  switch (number) {
    case error::kOverflow: return "Overflow";
    case error::kOutOfMemory: return "Out of memory";
    case error::kInternalError: return "Internal error";
    case error::kBadFileName: return "Bad file name or number";
    case error::kFileNotFound: return "File not found";
    case error::kDeviceIoError: return "Device I/O error";
    case error::kFileAlreadyExists: return "File already exists";
    case error::kDiskFull: return "Disk full";
    case error::kPermissionDenied: return "Permission denied";
    case error::kPathFileAccessError: return "Path/File access error";
    case error::kPathNotFound: return "Path not found";
    case error::kCannotCreateObject: return "ActiveX component can't create object";
    default: return "Application-defined or object-defined error";
  }
}

}  // namespace platform
