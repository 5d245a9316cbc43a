#include "platform/testing/fake_runtime.h"

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace platform::testing {
namespace {

std::u16string folderOf(const std::u16string& name) {
  const auto separator = name.find_last_of(u"\\/");
  return separator == std::u16string::npos ? std::u16string() : name.substr(0, separator);
}

}  // namespace

void FakeRuntime::record(const std::string& operation, std::initializer_list<std::u16string> arguments) {
  std::string call = operation + "(";
  bool first = true;
  for (const auto& argument : arguments) {
    if (!first) call += ", ";
    call += toUtf8(argument);
    first = false;
  }
  calls.push_back(call + ")");
  if (const auto failure = failures_.find(operation); failure != failures_.end()) {
    throw RuntimeError(failure->second);
  }
}

std::u16string FakeRuntime::commandLine() {
  record("commandLine", {});
  return commandLineText;
}

DatabaseEngine& FakeRuntime::databaseEngine() {
  if (!engineCreated_) {
    record("createEngine", {});
    engineCreated_ = true;
  }
  return *this;
}

std::u16string FakeRuntime::executableFolder() {
  record("executableFolder", {});
  return executableFolderName;
}

void FakeRuntime::changeCurrentFolder(const std::u16string& folder) { record("changeCurrentFolder", {folder}); }

void FakeRuntime::createFolder(const std::u16string& folder) {
  record("createFolder", {folder});
  std::u16string name = folder;
  while (!name.empty() && (name.back() == u'\\' || name.back() == u'/')) name.pop_back();
  if (!folders.insert(name).second) throw RuntimeError(error::kPathFileAccessError);
}

void FakeRuntime::copyFile(const std::u16string& source, const std::u16string& destination) {
  record("copyFile", {source, destination});
  const auto found = files.find(source);
  if (found == files.end()) throw RuntimeError(error::kFileNotFound);
  const std::u16string folder = folderOf(destination);
  if (!folder.empty() && folders.count(folder) == 0) throw RuntimeError(error::kPathNotFound);
  files[destination] = found->second;
}

void FakeRuntime::replaceFile(const std::u16string& replacement, const std::u16string& original) {
  record("replaceFile", {replacement, original});
  const auto newer = files.find(replacement);
  if (newer == files.end() || files.count(original) == 0) throw RuntimeError(error::kFileNotFound);
  const std::string contents = newer->second;
  files.erase(newer);
  files[original] = contents;
}

std::filesystem::path FakeRuntime::systemPath(const std::u16string& name) {
  record("systemPath", {name});
  return std::filesystem::path(toUtf8(name));
}

std::u16string FakeRuntime::fileBehind(const std::u16string& name) {
  record("fileBehind", {name});
  const auto link = links.find(name);
  return link == links.end() ? name : link->second;
}

void FakeRuntime::showMessage(const std::u16string& text, const std::u16string& title) {
  record("showMessage", {text, title});
  messages.push_back({text, title});
}

void FakeRuntime::resetMousePointer() { record("resetMousePointer", {}); }

void FakeRuntime::processPendingMessages() { record("processPendingMessages", {}); }

void FakeRuntime::compactDatabase(const std::u16string& source, const std::u16string& destination,
                                  const std::u16string& locale) {
  record("compactDatabase", {source, destination, locale});
  const auto found = files.find(source);
  if (found == files.end()) throw RuntimeError(3024, "Could not find file.");
  if (files.count(destination) != 0) throw RuntimeError(3204, "Database already exists.");
  files[destination] = "compacted:" + found->second;
}

}  // namespace platform::testing
