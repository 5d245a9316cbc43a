#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <vector>

#include "jet/os/env.h"
#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "platform/win32/win32_errors.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The name as the system takes it: a wide string ending in a zero. A zero inside the name would cut it short
// and name another file.
std::wstring systemName(const std::u16string& name) {
  if (name.empty() || name.find(u'\0') != std::u16string::npos) throw RuntimeError(error::kBadFileName);
  return std::wstring(name.begin(), name.end());
}

bool separator(wchar_t unit) { return unit == L'\\' || unit == L'/'; }

// The folder part of a name, for files made beside it; "." for a bare name.
std::wstring folderOf(const std::wstring& name) {
  std::size_t end = name.size();
  while (end > 0 && !separator(name[end - 1])) --end;
  if (end == 0) return name.size() >= 2 && name[1] == L':' ? name.substr(0, 2) : L".";
  return name.substr(0, end);
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  // Closing can report a failure of the last writes, which a file that must reach the disk cannot ignore.
  bool close() {
    const BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != 0;
  }

 private:
  HANDLE handle_;
};

// Fails (53 or 76) unless the name stands for an existing file or folder; returns its attributes.
DWORD requireExisting(const std::wstring& name) {
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) failWithLastError();
  return attributes;
}

void copyContents(HANDLE from, HANDLE to) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) failWithLastError();
    if (got == 0) return;
    for (DWORD written = 0; written < got;) {
      DWORD put = 0;
      if (!WriteFile(to, buffer.data() + written, got - written, &put, nullptr)) failWithLastError();
      written += put;
    }
  }
}

std::string utf8Of(const std::wstring& name) { return toUtf8(std::u16string(name.begin(), name.end())); }

std::wstring wideOf(const std::string& name) {
  const std::u16string units = fromUtf8(name);
  return std::wstring(units.begin(), units.end());
}

// A copy is written under the engine's partial name for its destination (jet::partialNamePrefix), held without
// sharing for as long as it is written, so that the next copy knows what an interrupted one left: a partial file of
// that name that it can open is nobody's, and goes, since it takes the space of a whole database. One being
// written cannot be opened, and stays.
void removeLeftoverPartials(const std::wstring& inFolder, const std::string& prefix) {
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileW((inFolder + wideOf(prefix) + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> found;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && jet::isPartialName(utf8Of(entry.cFileName), prefix)) {
      found.push_back(inFolder + entry.cFileName);
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  for (const std::wstring& leftover : found) {
    Handle file(CreateFileW(leftover.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  }
}

// A new, empty partial file whose name starts with `prefix` (folder included), held for writing without sharing;
// `name` receives its name.
HANDLE createPartial(const std::wstring& prefix, std::wstring& name) {
  static constexpr wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t seed = GetTickCount64() ^ (uint64_t{GetCurrentProcessId()} << 32) ^ reinterpret_cast<uintptr_t>(&name);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = prefix;
    for (size_t i = 0; i < jet::kPartialNameUniqueLength; ++i) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      name += kLetters[(seed >> 33) % (sizeof kLetters / sizeof kLetters[0] - 1)];
    }
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) failWithLastError();
  }
  throw RuntimeError(error::kPathFileAccessError);
}

void flushFile(const std::wstring& name) {
  Handle file(
      CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || !FlushFileBuffers(file.get())) failWithLastError();
}

}  // namespace

bool fileIsLockedByOthers(const std::u16string& file) {
  return jet::Env::system().lockedByOthers(toUtf8(file), jet::LockProbe::any);
}

std::u16string Win32FileSystem::executableFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) failWithLastError();
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      std::size_t end = path.find_last_of(L"\\/");
      if (end == std::wstring::npos) throw RuntimeError(error::kPathFileAccessError);
      // The root keeps its backslash: "C:" alone would be the drive's current folder, not its root.
      if (end == 0 || path[end - 1] == L':') ++end;
      return std::u16string(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(end));
    }
    buffer.resize(buffer.size() * 2);  // cut short: a long path
  }
}

void Win32FileSystem::changeCurrentFolder(const std::u16string& folder) {
  if (!SetCurrentDirectoryW(systemName(folder).c_str())) {
    const DWORD why = GetLastError();
    throw RuntimeError(why == ERROR_FILE_NOT_FOUND ? error::kPathNotFound : runtimeErrorNumber(why));
  }
}

void Win32FileSystem::createFolder(const std::u16string& folder) {
  if (!CreateDirectoryW(systemName(folder).c_str(), nullptr)) {
    const DWORD why = GetLastError();
    throw RuntimeError(why == ERROR_ALREADY_EXISTS ? error::kPathFileAccessError : runtimeErrorNumber(why));
  }
}

void Win32FileSystem::copyFile(const std::u16string& source, const std::u16string& destination) {
  const std::wstring from = systemName(source);
  const std::wstring to = systemName(destination);
  if (requireExisting(from) & FILE_ATTRIBUTE_DIRECTORY) throw RuntimeError(error::kPathFileAccessError);
  // Read as a reader beside the database engine: a database that is open elsewhere is still backed up.
  Handle input(
      CreateFileW(from.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!input.valid()) failWithLastError();

  // The copy is written beside the destination and moved over it once complete and flushed, so a failed copy
  // never leaves a half-written file where an older good copy was.
  const std::wstring folder = folderOf(to);
  const DWORD folderAttributes = GetFileAttributesW(folder.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw RuntimeError(error::kPathNotFound);
  }
  const std::wstring inFolder = folder == L"." ? L"" : folder;  // what goes before a name in the folder
  const std::string prefix = jet::partialNamePrefix(utf8Of(folder), utf8Of(to.substr(inFolder.size())));
  removeLeftoverPartials(inFolder, prefix);
  std::wstring temporary;
  Handle output(createPartial(inFolder + wideOf(prefix), temporary));
  try {
    copyContents(input.get(), output.get());
    // A backup keeps the times of its source.
    FILETIME created{}, accessed{}, written{};
    if (GetFileTime(input.get(), &created, &accessed, &written)) {
      SetFileTime(output.get(), &created, &accessed, &written);
    }
    if (!FlushFileBuffers(output.get())) failWithLastError();
    if (!output.close()) failWithLastError();
    if (!MoveFileExW(temporary.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      failWithLastError();
    }
  } catch (...) {
    if (output.valid()) output.close();  // held without sharing: it cannot be removed while open
    DeleteFileW(temporary.c_str());
    throw;
  }
}

void Win32FileSystem::replaceFile(const std::u16string& replacement, const std::u16string& original) {
  const std::wstring newer = systemName(replacement);
  const std::wstring older = systemName(original);
  requireExisting(newer);
  requireExisting(older);
  // A program that takes its lock after this check is not seen; the engine's own locking is what guards the
  // database while it is open. This check keeps an open database in place.
  if (fileIsLockedByOthers(original) || jet::databaseInUse(jet::Env::system(), toUtf8(original))) {
    throw RuntimeError(error::kPathFileAccessError);
  }
  flushFile(newer);
  // One step, so that at no moment no file holds the database's name.
  if (!MoveFileExW(newer.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failWithLastError();
  }
  // Some file systems (Wine's among them) keep the replaced entry's case; the name as written is then given by a
  // rename that changes only the case. Names are compared without case here, so the database is in its place
  // either way and a failure of this last step is no failure of the replacement.
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileW(older.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  FindClose(search);
  const std::wstring leaf = older.substr(folderOf(older) == L"." ? 0 : folderOf(older).size());
  if (leaf != entry.cFileName) {
    const std::wstring onDisk = older.substr(0, older.size() - leaf.size()) + entry.cFileName;
    MoveFileExW(onDisk.c_str(), older.c_str(), MOVEFILE_WRITE_THROUGH);
  }
}

// A symbolic link is followed to the file it names; any other name stands for itself.
std::u16string Win32FileSystem::fileBehind(const std::u16string& name) {
  const std::wstring wide = systemName(name);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return name;
  Handle file(CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return name;
  std::vector<wchar_t> target(32768);
  const DWORD length = GetFinalPathNameByHandleW(file.get(), target.data(), static_cast<DWORD>(target.size()),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= target.size()) return name;
  std::wstring path(target.data(), length);
  if (path.rfind(L"\\\\?\\", 0) == 0) path.erase(0, 4);  // the long-path prefix
  return std::u16string(path.begin(), path.end());
}

std::filesystem::path Win32FileSystem::systemPath(const std::u16string& name) {
  return std::filesystem::path(systemName(name));
}

}  // namespace platform
