#include "platform/qt_loader.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
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
      if (module.failure.empty()) module.failure = ::dlerror();
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

// A bar's range is checked here, where its 380 can be thrown; the module does not throw.
class CheckedView final : public FormView {
 public:
  CheckedView(const FormDesign& design, std::unique_ptr<FormView> view) : design_(design), view_(std::move(view)) {}
  void show() override { view_->show(); }
  void setText(std::size_t control, const std::u16string& text) override { view_->setText(control, text); }
  void setValue(std::size_t control, float value) override {
    checkBarValue(design_.controls.at(control), value);
    view_->setValue(control, value);
  }

 private:
  FormDesign design_;
  std::unique_ptr<FormView> view_;
};

class LoadedForms final : public Forms {
 public:
  explicit LoadedForms(std::unique_ptr<Forms> forms) : forms_(std::move(forms)) {}
  std::unique_ptr<FormView> create(const FormDesign& design, FormEvents& events) override {
    std::unique_ptr<FormView> view = forms_->create(design, events);
    if (!view) throw RuntimeError(error::kOutOfMemory);
    return std::make_unique<CheckedView>(design, std::move(view));
  }
  void processPendingMessages() override { forms_->processPendingMessages(); }

 private:
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
