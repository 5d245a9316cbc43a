#pragma once
// The user interface of a Windows desktop program: the system's message box, its arrow pointer and its message
// queue.

#include "platform/user_interface.h"

namespace platform {

class Win32UserInterface final : public UserInterface {
 public:
  void showMessage(const std::u16string& text, const std::u16string& title) override;
  void resetMousePointer() override;
  void processPendingMessages() override;
};

}  // namespace platform
