#pragma once
// What the utility shows the user, and the screen state it resets.

#include <string>

namespace platform {

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message box with a single OK button and no icon; returns when the user closes it.
  // Where no message box can be shown, the message goes to the error stream instead; throws
  // RuntimeError 57 (device I/O error) when it cannot be written there either.
  virtual void showMessage(const std::u16string& text, const std::u16string& title) = 0;
  // Gives the screen's mouse pointer its default shape.
  virtual void resetMousePointer() = 0;
  // Dispatches the window messages waiting for this process before returning.
  virtual void processPendingMessages() = 0;
};

}  // namespace platform
