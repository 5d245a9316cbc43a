#include "platform/forms.h"

#include <cmath>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"

namespace platform {

int twipsToPixels(std::int32_t twips, double dotsPerInch) {
  return static_cast<int>(std::lround(static_cast<double>(twips) * dotsPerInch / 1440.0));
}

void checkBarValue(const ControlDesign& bar, float value) {
  // Written so that NaN fails too.
  if (!(value >= bar.minimum && value <= bar.maximum)) throw RuntimeError(error::kInvalidPropertyValue);
}

}  // namespace platform
