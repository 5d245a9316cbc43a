#include "platform/console_user_interface.h"

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace platform {

void ConsoleUserInterface::showMessage(const std::u16string& text, const std::u16string& title) {
  const std::string line = toUtf8(title) + ": " + toUtf8(text) + "\n";
  if (std::fputs(line.c_str(), stream_) < 0 || std::fflush(stream_) != 0) {
    throw RuntimeError(error::kDeviceIoError);
  }
}

}  // namespace platform
