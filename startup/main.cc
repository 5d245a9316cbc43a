// jetcompact DATABASE: backs up the database into VARKOP beside the executable and compacts
// it in place. See README.md for the exit statuses.

#include "platform/posix_runtime.h"
#include "startup/run.h"

int main(int argc, char** argv) {
  platform::PosixRuntime runtime(argc, argv);
  return startup::run(runtime);
}
