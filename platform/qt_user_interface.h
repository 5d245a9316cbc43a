#pragma once
// The user interface of a desktop session, drawn with Qt. The Qt application object is made
// only when a message box is first needed, so that a run that shows nothing starts no GUI.
// When no platform of the session can show a box to a person then (the display cannot be reached, Qt's plugin for it
// is not installed, or it draws off screen), messages go to the error stream instead.

#include <memory>

#include "platform/console_user_interface.h"
#include "platform/user_interface.h"

class QApplication;
class QString;

namespace platform {

class QtUserInterface final : public UserInterface {
 public:
  enum class Screens {
    visible,       // only where a person can see the box
    invisibleToo,  // also off screen; for tests, which close the box themselves
  };
  explicit QtUserInterface(Screens screens = Screens::visible);
  ~QtUserInterface() override;
  QtUserInterface(const QtUserInterface&) = delete;
  QtUserInterface& operator=(const QtUserInterface&) = delete;

  void showMessage(const std::u16string& text, const std::u16string& title) override;
  // Removes every override cursor of the application, if there is one.
  void resetMousePointer() override;
  void processPendingMessages() override;

 private:
  QApplication& application(const QString& platform);

  Screens screens_;

  std::unique_ptr<QApplication> application_;  // set when this object had to create it
  ConsoleUserInterface console_;
};

// True when the session has a display that Qt can draw on.
bool displayAvailable();
// True when Qt can be started on that display without ending the process: a platform Qt would
// try has its plugin installed and its display answers.
bool displayReachable();

}  // namespace platform
