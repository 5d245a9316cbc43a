#pragma once
// A run-time for tests: it records every call in order, keeps files and folders in memory
// (names taken literally, no case folding) and makes any operation fail with a chosen number.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/runtime.h"

namespace platform::testing {

class FakeRuntime final : public Runtime, public FileSystem, public UserInterface, public DatabaseEngine {
 public:
  struct Message {
    std::u16string text;
    std::u16string title;
  };

  // Every call to the named operation from now on fails with `number`. Names are the member
  // functions' own ("copyFile", "showMessage", ...) and "createEngine" for the engine's creation.
  void failOperation(const std::string& operation, std::int32_t number) { failures_[operation] = number; }

  std::u16string commandLineText;
  std::u16string executableFolderName = u"C:\\PROGRAM";
  std::map<std::u16string, std::string> files;     // name -> contents
  std::set<std::u16string> folders;                // names without a trailing backslash
  std::map<std::u16string, std::u16string> links;  // symbolic link -> the file it points to
  // Calls in order, written as "copyFile(DATA.MDB, VARKOP\DATA.MDB)".
  std::vector<std::string> calls;
  std::vector<Message> messages;

  // Runtime
  std::u16string commandLine() override;
  FileSystem& fileSystem() override { return *this; }
  UserInterface& userInterface() override { return *this; }
  DatabaseEngine& databaseEngine() override;

  // FileSystem
  std::u16string executableFolder() override;
  void changeCurrentFolder(const std::u16string& folder) override;
  void createFolder(const std::u16string& folder) override;
  void copyFile(const std::u16string& source, const std::u16string& destination) override;
  void replaceFile(const std::u16string& replacement, const std::u16string& original) override;
  std::filesystem::path systemPath(const std::u16string& name) override;
  // Names in `links` stand for their target; every other name for itself.
  std::u16string fileBehind(const std::u16string& name) override;

  // UserInterface
  void showMessage(const std::u16string& text, const std::u16string& title) override;
  void resetMousePointer() override;
  void processPendingMessages() override;

  // DatabaseEngine: writes "compacted:" and the source's contents to the destination.
  void compactDatabase(const std::u16string& source, const std::u16string& destination,
                       const std::u16string& locale) override;

 private:
  void record(const std::string& operation, std::initializer_list<std::u16string> arguments);

  std::map<std::string, std::int32_t> failures_;
  bool engineCreated_ = false;
};

}  // namespace platform::testing
