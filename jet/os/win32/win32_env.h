// The parts of the Windows Env, for its own files only: nothing outside jet/os/win32 includes this.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "jet/errors.h"
#include "jet/os/env.h"

namespace jet::win32 {

std::unique_ptr<PageSource> openSource(const std::string& path);
std::unique_ptr<PageSink> createDestination(const std::string& path);
std::unique_ptr<PageSink> createHiddenDestination(const std::string& path);
void publishDestination(const std::string& hidden, const std::string& path, bool keepHiddenName);
void removeLeftovers(const std::string& path, const std::string& source);
std::unique_ptr<FileLock> lockSource(Env& env, const std::string& path);

// Opens for reading beside the programs that have the file open (Jet opens for reading and writing and lets both
// in), so that their locks can be seen.
HANDLE openBeside(const std::string& path);

// True when another handle holds a lock of the probed kind anywhere in the open file.
bool lockedByOthers(HANDLE file, LockProbe kind);

}  // namespace jet::win32
