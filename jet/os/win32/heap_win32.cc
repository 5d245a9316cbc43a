#include "jet/os/heap.h"

namespace jet {

// Not measured on Windows: the system's heap is left as it is.
bool prepareHeapForRun() { return false; }

}  // namespace jet
