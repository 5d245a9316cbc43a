// A lock on the whole of an open file, for the POSIX files of the engine and of the utility's platform only: the
// source's shared lock, and the partial files both of them write (the writer holds an exclusive lock for as long as it
// writes, so that nobody takes the file for a leftover; whoever removes a leftover holds a shared one meanwhile, so
// that no writer can take it back).
#pragma once

namespace jet::posix {

enum class WholeFileLock { shared, exclusive };

// Takes the lock on every byte of the open file `fd` (and any beyond its end) without waiting: an open-file-description
// lock where the kernel has them, which a second open in the same process sees too, a classic process lock otherwise.
// False when another holds a lock that conflicts, or the lock cannot be taken.
bool lockWholeFile(int fd, WholeFileLock kind);

}  // namespace jet::posix
