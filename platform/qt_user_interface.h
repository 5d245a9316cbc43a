#pragma once
// The user interface of a desktop session, drawn with Qt. The Qt application object is made
// only when a message box is first needed, so that a run that shows nothing starts no GUI.
// When the display cannot be reached then, messages go to the error stream instead.

#include <memory>

#include "platform/console_user_interface.h"
#include "platform/user_interface.h"

class QApplication;

namespace platform {

class QtUserInterface final : public UserInterface {
 public:
  QtUserInterface();
  ~QtUserInterface() override;
  QtUserInterface(const QtUserInterface&) = delete;
  QtUserInterface& operator=(const QtUserInterface&) = delete;

  void showMessage(const std::u16string& text, const std::u16string& title) override;
  // Removes every override cursor of the application, if there is one.
  void resetMousePointer() override;
  void processPendingMessages() override;

 private:
  QApplication& application();

  std::unique_ptr<QApplication> application_;  // set when this object had to create it
  ConsoleUserInterface console_;
};

// True when the session has a display that Qt can draw on.
bool displayAvailable();
// True when Qt can be started on that display without ending the process: an X display named
// by DISPLAY answers, or another Qt platform is named.
bool displayReachable();

}  // namespace platform
