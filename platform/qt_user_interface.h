#pragma once
// Message boxes drawn with Qt, part of the Qt module (platform/qt_module.h). The Qt application
// object is made only when the first box is shown, on a platform chosen beforehand by
// usableQtPlatform, so that Qt is never told to use a platform that would end the process.

#include <memory>
#include <optional>
#include <string>

#include "platform/user_interface.h"

class QApplication;

namespace platform {

class QtUserInterface final : public UserInterface {
 public:
  // `qtPlatform`: the QT_QPA_PLATFORM entry the application is started on, if this object starts it.
  explicit QtUserInterface(std::string qtPlatform);
  ~QtUserInterface() override;
  QtUserInterface(const QtUserInterface&) = delete;
  QtUserInterface& operator=(const QtUserInterface&) = delete;

  void showMessage(const std::u16string& text, const std::u16string& title) override;
  // Removes every override cursor of the application, if there is one.
  void resetMousePointer() override;
  void processPendingMessages() override;

 private:
  std::string qtPlatform_;
  std::unique_ptr<QApplication> application_;  // set when this object had to create it
};

// The Qt platform ("xcb", "wayland", ...) that is installed and answers, in the order Qt would try
// them, so that starting Qt on it cannot end the process; nothing when there is none. Platforms
// that draw for nobody (offscreen, minimal) count only when `invisibleAllowed`.
std::optional<std::string> usableQtPlatform(bool invisibleAllowed);

}  // namespace platform
