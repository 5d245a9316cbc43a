// jetcompact.exe DATABASE: backs up the database into VARKOP beside the executable and compacts it in place. A
// program for the GUI subsystem: it opens no console, and no window unless a failure is reported.

#include "platform/win32/win32_runtime.h"
#include "startup/run.h"

int main() {
  platform::Win32Runtime runtime;
  return startup::run(runtime);
}
