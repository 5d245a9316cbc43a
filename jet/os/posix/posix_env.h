// The parts of the POSIX Env, for its own files (and its tests) only: nothing outside jet/os/posix includes this
// (whole_file_lock.h is the one part the POSIX platform shares).
#pragma once

#include <memory>
#include <string>

#include "jet/errors.h"
#include "jet/os/env.h"

namespace jet::posix {

std::unique_ptr<PageSource> openSource(const std::string& path);
std::unique_ptr<PageSink> createDestination(const std::string& path);
std::unique_ptr<PageSink> createHiddenDestination(const std::string& path);
void publishDestination(const std::string& hidden, const std::string& path, bool keepHiddenName);
void removeLeftovers(const std::string& path, const std::string& source);
std::unique_ptr<FileLock> lockSource(Env& env, const std::string& path);

// True when another open file holds a lock of the probed kind anywhere in the open file `fd`.
bool lockedByOthers(int fd, LockProbe kind);

// Flushes the folder's entries; throws as Env::flushFolder.
void flushFolder(const std::string& folder);

// The error a failed write or flush reports for errno `err`.
ErrorCode writeErrorFor(int err);

}  // namespace jet::posix
