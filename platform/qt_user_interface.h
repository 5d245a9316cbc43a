#pragma once
// The user interface of a desktop session, drawn with Qt. The Qt application object is made
// only when a message box is first needed, so that a run that shows nothing starts no GUI.
// When no platform of the session can show a box to a person then (the display cannot be reached, Qt's plugin for it
// is not installed, or it draws off screen), messages go to the error stream instead.

#include <memory>
#include <optional>
#include <string>

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
// The Qt platform ("xcb", "wayland", ...) that is installed and answers, in the order Qt would try
// them, so that starting Qt on it cannot end the process; nothing when there is none. Platforms
// that draw for nobody (offscreen, minimal) count only when `invisibleAllowed`.
std::optional<std::string> usableQtPlatform(bool invisibleAllowed);

}  // namespace platform
