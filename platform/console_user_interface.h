#pragma once
// The user interface of a session without a display: messages go to the standard error stream,
// and there is no pointer and no window message to deal with.

#include <cstdio>

#include "platform/user_interface.h"

namespace platform {

class ConsoleUserInterface final : public UserInterface {
 public:
  explicit ConsoleUserInterface(std::FILE* stream = stderr) : stream_(stream) {}

  // Writes "title: text" and a line break; there is nobody to click OK, so it returns at once.
  void showMessage(const std::u16string& text, const std::u16string& title) override;
  void resetMousePointer() override {}
  void processPendingMessages() override {}

 private:
  std::FILE* stream_;
};

}  // namespace platform
