#include <unistd.h>

#include "platform/console_forms.h"

namespace platform {

bool errorStreamIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

}  // namespace platform
