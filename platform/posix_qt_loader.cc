#include "platform/qt_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <exception>
#include <system_error>
#include <utility>

#include "platform/console_user_interface.h"
#include "platform/error_numbers.h"
#include "platform/posix_file_system.h"
#include "platform/qt_module.h"
#include "platform/runtime_error.h"

namespace platform {
namespace {

bool environmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

struct QtModule {
  qt_module::UserInterfaceFunction* userInterface = nullptr;
  qt_module::FormsFunction* forms = nullptr;
  std::string failure;  // why there is none, when there is none
};

// The first of the folders whose module loads and is of this build's interface. A module that
// does not load (Qt's libraries missing, another build's) does not hide one further on.
QtModule load() {
  QtModule module;
  for (const std::filesystem::path& folder : qtModuleFolders()) {
    const std::filesystem::path file = folder / JETCOMPACT_QT_MODULE_NAME;
    std::error_code failure;
    if (!std::filesystem::is_regular_file(file, failure)) continue;
    // Never closed: Qt leaves threads and exit handlers behind that need its code to the end.
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      if (module.failure.empty()) module.failure = why != nullptr ? why : file.string() + ": not loaded";
      continue;
    }
    auto* version = reinterpret_cast<qt_module::VersionFunction*>(::dlsym(handle, qt_module::kVersionSymbol));
    auto* userInterface =
        reinterpret_cast<qt_module::UserInterfaceFunction*>(::dlsym(handle, qt_module::kUserInterfaceSymbol));
    auto* forms = reinterpret_cast<qt_module::FormsFunction*>(::dlsym(handle, qt_module::kFormsSymbol));
    if (version == nullptr || userInterface == nullptr || forms == nullptr ||
        version() != qt_module::kInterfaceVersion) {
      if (module.failure.empty()) module.failure = file.string() + ": built for another version of the program";
      continue;
    }
    module.userInterface = userInterface;
    module.forms = forms;
    module.failure.clear();
    return module;
  }
  if (module.failure.empty()) module.failure = std::string(JETCOMPACT_QT_MODULE_NAME) + " not found";
  return module;
}

const QtModule& qtModule() {
  static const QtModule module = load();
  return module;
}

// Loads the module at the first message; until then, and where it is missing, nothing of Qt runs.
class LoadingUserInterface final : public UserInterface {
 public:
  explicit LoadingUserInterface(bool invisibleAllowed) : invisibleAllowed_(invisibleAllowed) {}

  void showMessage(const std::u16string& text, const std::u16string& title) override {
    if (!tried_) {
      tried_ = true;
      if (const QtModule& module = qtModule(); module.userInterface != nullptr) {
        qt_.reset(module.userInterface(invisibleAllowed_ ? 1 : 0));
      }
    }
    if (qt_) {
      qt_->showMessage(text, title);
    } else {
      console_.showMessage(text, title);
    }
  }
  void resetMousePointer() override {
    if (qt_) qt_->resetMousePointer();
  }
  void processPendingMessages() override {
    if (qt_) qt_->processPendingMessages();
  }

 private:
  bool invisibleAllowed_;
  bool tried_ = false;
  std::unique_ptr<UserInterface> qt_;
  ConsoleUserInterface console_;
};

// What a window's owner throws from a callback is held here while Qt dispatches, and thrown again
// once the module has returned, so that nothing unwinds through it.
struct HeldFailure {
  std::exception_ptr failure;
};

class RelayedEvents final : public FormEvents {
 public:
  RelayedEvents(FormEvents& events, std::shared_ptr<HeldFailure> held) : events_(events), held_(std::move(held)) {}
  void clicked(std::size_t control) override {
    relay([&] { events_.clicked(control); });
  }
  void closeRequested() override {
    relay([&] { events_.closeRequested(); });
  }

 private:
  // The callback may destroy the view, and this object with it: only the stack is used after it.
  template <typename Call>
  void relay(Call call) {
    const std::shared_ptr<HeldFailure> held = held_;
    try {
      call();
    } catch (...) {
      if (!held->failure) held->failure = std::current_exception();
    }
  }

  FormEvents& events_;
  std::shared_ptr<HeldFailure> held_;
};

// A bar's range is checked here, where its 380 can be thrown; the module does not throw.
class CheckedView final : public FormView {
 public:
  CheckedView(const FormDesign& design, FormEvents& events, std::shared_ptr<HeldFailure> held)
      : design_(design), events_(events, std::move(held)) {}
  // Made apart from the constructor: the module's view refers to events_, which must exist first.
  FormEvents& events() { return events_; }
  void attach(std::unique_ptr<FormView> view) { view_ = std::move(view); }

  void show() override { view_->show(); }
  void setText(std::size_t control, const std::u16string& text) override { view_->setText(control, text); }
  void setValue(std::size_t control, float value) override {
    checkBarValue(design_.controls.at(control), value);
    view_->setValue(control, value);
  }

 private:
  FormDesign design_;
  RelayedEvents events_;
  std::unique_ptr<FormView> view_;  // last: it refers to events_
};

class LoadedForms final : public Forms {
 public:
  explicit LoadedForms(std::unique_ptr<Forms> forms) : forms_(std::move(forms)) {}
  std::unique_ptr<FormView> create(const FormDesign& design, FormEvents& events) override {
    auto view = std::make_unique<CheckedView>(design, events, held_);
    std::unique_ptr<FormView> drawn = forms_->create(design, view->events());
    if (!drawn) throw RuntimeError(error::kOutOfMemory);
    view->attach(std::move(drawn));
    return view;
  }
  void processPendingMessages() override {
    forms_->processPendingMessages();
    if (held_->failure) std::rethrow_exception(std::exchange(held_->failure, nullptr));
  }

 private:
  std::shared_ptr<HeldFailure> held_ = std::make_shared<HeldFailure>();
  std::unique_ptr<Forms> forms_;
};

}  // namespace

bool displayAvailable() {
  return environmentSet("DISPLAY") || environmentSet("WAYLAND_DISPLAY") || environmentSet("QT_QPA_PLATFORM");
}

std::vector<std::filesystem::path> qtModuleFolders() {
  if (const char* only = std::getenv("JETCOMPACT_QT_MODULE_DIR"); only != nullptr && *only != '\0') {
    return {only};
  }
  std::vector<std::filesystem::path> folders;
  std::error_code failure;
  const std::filesystem::path executable = executablePath(failure);
  if (!failure) folders.push_back(executable.parent_path());
  for (const char* folder : {JETCOMPACT_QT_MODULE_BUILD_DIR, JETCOMPACT_QT_MODULE_INSTALL_DIR}) {
    if (*folder != '\0' && (folders.empty() || folders.front() != folder)) folders.emplace_back(folder);
  }
  return folders;
}

std::unique_ptr<UserInterface> qtUserInterface(bool invisibleAllowed) {
  return std::make_unique<LoadingUserInterface>(invisibleAllowed);
}

std::unique_ptr<Forms> qtForms(bool invisibleAllowed, std::string& whyNot) {
  whyNot.clear();
  const QtModule& module = qtModule();
  if (module.forms == nullptr) {
    whyNot = module.failure;
    return nullptr;
  }
  std::unique_ptr<Forms> forms(module.forms(invisibleAllowed ? 1 : 0));
  if (!forms) return nullptr;
  return std::make_unique<LoadedForms>(std::move(forms));
}

}  // namespace platform
