// Numbered errors of the database engine.
//
// The numbers are the ones Jet itself reports, so that callers (and users who look them up) see the same codes for
// the same conditions whichever engine did the work.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace jet {

enum class ErrorCode : int32_t {
  OutOfMemory = 7,            // "Out of memory"
  FileNotFound = 3024,        // "Could not find file"
  DiskFull = 3026,            // "Not enough space on disk"
  DiskIoRead = 3040,          // "Disk I/O error during read"
  DiskIoWrite = 3043,         // "Disk or network error"
  Corrupt = 3049,             // not a database, or damaged
  CannotOpen = 3051,          // the file cannot be opened (permissions, a folder, ...)
  InUse = 3196,               // the database is in use by another process
  DatabaseExists = 3204,      // the destination of a compaction already exists
  InvalidArgument = 3001,     // "Invalid argument", e.g. a malformed locale string
  InvalidPath = 3044,         // "... isn't a valid path": the destination's folder does not exist
  TableNotFound = 3078,       // no table of that name in the database
  UnrecognizedFormat = 3343,  // not a Jet 3 / Jet 4 database
  OpenedExclusively = 3356,   // opened exclusively by another user
};

// Thrown by every engine operation that fails. what() names the file and what was wrong.
class Error : public std::runtime_error {
 public:
  Error(ErrorCode code, const std::string& message, int systemError = 0)
      : std::runtime_error(message), code_(code), systemError_(systemError) {}
  ErrorCode code() const { return code_; }
  int32_t number() const { return static_cast<int32_t>(code_); }
  // The operating system's own number for the failure behind the error (errno on POSIX systems), 0 when there is
  // none: for callers outside the engine that report system failures in their own terms.
  int systemError() const { return systemError_; }

 private:
  ErrorCode code_;
  int systemError_;
};

[[noreturn]] inline void fail(ErrorCode code, const std::string& message) { throw Error(code, message); }

}  // namespace jet
