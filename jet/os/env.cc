#include "jet/os/env.h"

#include <cstring>

#include "jet/errors.h"
#include "jet/os/unicode.h"

namespace jet {

std::string lockFileName(const std::string& path, bool upperCase) {
#ifdef _WIN32
  size_t slash = path.find_last_of("/\\:");
#else
  size_t slash = path.find_last_of('/');
#endif
  size_t dot = path.find_last_of('.');
  std::string base =
      (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? path.substr(0, dot) : path;
  return base + (upperCase ? ".LDB" : ".ldb");
}

std::string partialNamePrefix(const std::string& folder, const std::string& leaf) {
  static constexpr char kMarker[] = ".partial-";
  constexpr size_t kFixed = 1 + (sizeof kMarker - 1) + kPartialNameUniqueLength;
  const size_t limit = longestName(folder);
  size_t keep = leaf.size();
  if (keep + kFixed > limit) keep = unicode::utf8Prefix(leaf, limit > kFixed ? limit - kFixed : 0);
  std::string prefix(1, '.');
  prefix.append(leaf, 0, keep);
  prefix.append(kMarker);
  return prefix;
}

bool isPartialName(std::string_view name, std::string_view prefix) {
  return name.size() == prefix.size() + kPartialNameUniqueLength && name.substr(0, prefix.size()) == prefix;
}

std::optional<ErrorCode> databaseInUse(Env& env, const std::string& path) {
  // The lock file may differ in case from the database's name (a program under Wine names it after the name it was
  // given), so every entry of the folder whose name matches ignoring case is looked at.
  const std::string wanted = lockFileName(path, false);
#ifdef _WIN32
  const size_t slash = wanted.find_last_of("/\\");
#else
  const size_t slash = wanted.find_last_of('/');
#endif
  const std::string folder = slash == std::string::npos ? "." : wanted.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? wanted : wanted.substr(slash + 1);
  for (const std::string& entry : env.findIgnoringCase(folder, name)) {
    const std::string candidate = slash == std::string::npos ? entry : folder + entry;
    if (env.lockedByOthers(candidate, LockProbe::exclusive)) return ErrorCode::InUse;
  }
  if (env.lockedByOthers(path, LockProbe::exclusive)) return ErrorCode::OpenedExclusively;
  return std::nullopt;
}

void PageSource::readScattered(uint64_t offset, std::span<const std::span<uint8_t>> parts) {
  for (std::span<uint8_t> part : parts) {
    read(offset, part);
    offset += part.size();
  }
}

void MemorySource::read(uint64_t offset, std::span<uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
    fail(ErrorCode::DiskIoRead, name_ + ": read past the end of the data at offset " + std::to_string(offset));
  }
  std::memcpy(out.data(), bytes_.data() + offset, out.size());
}

}  // namespace jet
