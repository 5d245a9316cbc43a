#pragma once
// One run of the utility on a given run-time: loads the start-up form and turns the way it
// ended into the process's exit status. A failure that nothing handled is reported through
// the run-time's user interface ("Run-time error 'N':" and its description).

#include "platform/runtime.h"

namespace startup {

int run(platform::Runtime& runtime);

}  // namespace startup
