#include "startup/cancelled.h"

namespace startup {

bool cancelled = false;

}  // namespace startup
