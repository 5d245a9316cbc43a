#include "platform/posix_runtime.h"

#include "jet/os/heap.h"
#include "platform/console_user_interface.h"
#include "platform/text.h"
#if JETCOMPACT_HAVE_QT
#include "platform/qt_loader.h"
#endif

namespace platform {
namespace {

// A build without Qt has only the error stream, display or not; with Qt, the boxes' module is
// loaded only when a message is shown.
std::unique_ptr<UserInterface> sessionUserInterface() {
#if JETCOMPACT_HAVE_QT
  if (displayAvailable()) return qtUserInterface();
#endif
  return std::make_unique<ConsoleUserInterface>();
}

}  // namespace

std::u16string joinArguments(int argc, const char* const* argv) {
  std::u16string joined;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) joined.push_back(u' ');
    joined += fromUtf8(argv[i]);
  }
  return joined;
}

PosixRuntime::PosixRuntime(int argc, const char* const* argv)
    : PosixRuntime(joinArguments(argc, argv), sessionUserInterface()) {
  // The run's own process, before the engine starts a thread (see heap.h).
  jet::prepareHeapForRun();
}

PosixRuntime::PosixRuntime(std::u16string commandLine, std::unique_ptr<UserInterface> userInterface)
    : commandLine_(std::move(commandLine)), userInterface_(std::move(userInterface)) {}

PosixRuntime::~PosixRuntime() = default;

DatabaseEngine& PosixRuntime::databaseEngine() {
  if (!engine_) engine_ = createDatabaseEngine(fileSystem_);
  return *engine_;
}

}  // namespace platform
