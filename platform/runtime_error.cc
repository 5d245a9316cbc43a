#include "platform/runtime_error.h"

#include "platform/error_numbers.h"

namespace platform {

RuntimeError::RuntimeError(std::int32_t number, const std::string& description)
    : std::runtime_error(description), number_(number), description_(description) {}

RuntimeError::RuntimeError(std::int32_t number) : RuntimeError(number, standardDescription(number)) {}

std::string standardDescription(std::int32_t number) {
  switch (number) {
    case error::overflow: return "Overflow";
    case error::outOfMemory: return "Out of memory";
    case error::internalError: return "Internal error";
    case error::badFileName: return "Bad file name or number";
    case error::fileNotFound: return "File not found";
    case error::deviceIoError: return "Device I/O error";
    case error::fileAlreadyExists: return "File already exists";
    case error::diskFull: return "Disk full";
    case error::permissionDenied: return "Permission denied";
    case error::pathFileAccessError: return "Path/File access error";
    case error::pathNotFound: return "Path not found";
    case error::cannotCreateObject: return "ActiveX component can't create object";
    default: return "Application-defined or object-defined error";
  }
}

}  // namespace platform
