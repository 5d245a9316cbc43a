// The entry points of the Qt module. Every call from the executable ends here or in an object made
// here, and each catches what Qt might throw (memory running out, in practice): an exception
// unwinding through the dynamic loader's boundary would meet code that was built apart from it.

#include "platform/qt_module.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "platform/qt_forms.h"
#include "platform/qt_user_interface.h"

namespace platform {
namespace {

class GuardedUserInterface final : public UserInterface {
 public:
  explicit GuardedUserInterface(std::string qtPlatform) : boxes_(std::move(qtPlatform)) {}

  void showMessage(const std::u16string& text, const std::u16string& title) override {
    try {
      boxes_.showMessage(text, title);
    } catch (...) {
      // The box could not be drawn; the message still reaches the error stream, as without Qt.
      const QByteArray line =
          (QString::fromUtf16(title.data(), static_cast<qsizetype>(title.size())) + QLatin1String(": ") +
           QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())) + QLatin1Char('\n'))
              .toUtf8();
      std::fputs(line.constData(), stderr);
      std::fflush(stderr);
    }
  }
  void resetMousePointer() override {
    try {
      boxes_.resetMousePointer();
    } catch (...) {
    }
  }
  void processPendingMessages() override {
    try {
      boxes_.processPendingMessages();
    } catch (...) {
    }
  }

 private:
  QtUserInterface boxes_;
};

class GuardedView final : public FormView {
 public:
  explicit GuardedView(std::unique_ptr<FormView> view) : view_(std::move(view)) {}
  void show() override {
    try {
      view_->show();
    } catch (...) {
    }
  }
  void setText(std::size_t control, const std::u16string& text) override {
    try {
      view_->setText(control, text);
    } catch (...) {
    }
  }
  // The range was checked by the caller.
  void setValue(std::size_t control, float value) override {
    try {
      view_->setValue(control, value);
    } catch (...) {
    }
  }

 private:
  std::unique_ptr<FormView> view_;
};

class GuardedForms final : public Forms {
 public:
  explicit GuardedForms(const std::string& qtPlatform) : forms_(0, qtPlatform) {}

  // Null when the window could not be made.
  std::unique_ptr<FormView> create(const FormDesign& design, FormEvents& events) override {
    try {
      return std::make_unique<GuardedView>(forms_.create(design, events));
    } catch (...) {
      return nullptr;
    }
  }
  void processPendingMessages() override {
    try {
      forms_.processPendingMessages();
    } catch (...) {
    }
  }

 private:
  QtForms forms_;
};

}  // namespace
}  // namespace platform

int jetcompact_qt_interface_version() noexcept { return platform::qt_module::kInterfaceVersion; }

platform::UserInterface* jetcompact_qt_user_interface(int invisibleAllowed) noexcept {
  try {
    const std::optional<std::string> qtPlatform = platform::usableQtPlatform(invisibleAllowed != 0);
    if (!qtPlatform) return nullptr;
    return new platform::GuardedUserInterface(*qtPlatform);
  } catch (...) {
    return nullptr;
  }
}

platform::Forms* jetcompact_qt_forms(int invisibleAllowed) noexcept {
  try {
    const std::optional<std::string> qtPlatform = platform::usableQtPlatform(invisibleAllowed != 0);
    if (!qtPlatform) return nullptr;
    return new platform::GuardedForms(*qtPlatform);
  } catch (...) {
    return nullptr;
  }
}
