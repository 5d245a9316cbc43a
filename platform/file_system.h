#pragma once
// The file system as the utility sees it: names follow Windows conventions on every system
// (a backslash or a slash separates folders; a name that does not exist exactly resolves,
// case-insensitively, to an existing entry, an exact match winning). Relative names are
// resolved in the current folder. Every operation throws RuntimeError when it fails.

#include <filesystem>
#include <string>

namespace platform {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The folder that holds the running executable.
  virtual std::u16string executableFolder() = 0;
  // Makes the folder the current folder; relative names used afterwards are resolved in it.
  virtual void changeCurrentFolder(const std::u16string& folder) = 0;
  // Fails when the folder is already there.
  virtual void createFolder(const std::u16string& folder) = 0;
  // Replaces an existing destination. Fails when the source is missing, unreadable or no
  // regular file (at once: a FIFO is not waited for), or the destination's folder does not
  // exist. What an interrupted copy to the same destination left is removed first. The copy is on disk when the call returns, and an
  // older destination stays whole until the copy is complete.
  virtual void copyFile(const std::u16string& source, const std::u16string& destination) = 0;
  // Puts `replacement` in the place of `original`, under the name `original` as written
  // (its case included), so that at no moment no file holds that name, and no moment two
  // entries that differ only in case do. `replacement` takes the owner, group, permissions and
  // access control list of `original` and is on disk before `original` is replaced. Fails,
  // leaving the data of both files as they were, when either file is missing (53, or 76 when
  // its folder is) or is no regular file (75), or another process holds the database open: an
  // exclusive lock on `original` or on its .ldb lock file (75, which databaseInUse in
  // database_engine.h counts as in use); a failure of the system raises its run-time number
  // (52 bad name, 57 device error, 61 disk full, 70 permission denied, 75 otherwise).
  virtual void replaceFile(const std::u16string& replacement, const std::u16string& original) = 0;
  // Where the system keeps the file or folder that the name stands for (it need not exist):
  // for code that must open the file itself, such as the database engine.
  virtual std::filesystem::path systemPath(const std::u16string& name) = 0;
  // The name of the file that `name` stands for once symbolic links are followed: `name` itself
  // when it is no link. A database reached through a link is compacted where the link points.
  virtual std::u16string fileBehind(const std::u16string& name) = 0;
};

}  // namespace platform
