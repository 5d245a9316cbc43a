#pragma once
// The two ways a procedure can trap a failure of the statements it runs:
//   resumeNext(statement)            - a failing statement is skipped, execution goes on;
//   runTrapped(phase, handler)       - a failure ends the phase and the handler runs instead:
//                                      the handler decides whether to abandon silently or report.
// A handler runs outside the trap, so a failure inside it goes to the caller, as a failure
// inside a running handler must. Only RuntimeError is trapped: anything else is a fault of
// the program, not a numbered failure of an operation.

#include <optional>
#include <utility>

#include "platform/runtime_error.h"

namespace platform {

template <class Statement>
void resumeNext(Statement&& statement) {
  try {
    std::forward<Statement>(statement)();
  } catch (const RuntimeError&) {
    // Ignored on purpose: that is what this trap is for.
  }
}

// Returns true when the phase ran to its end, false when its handler ran.
template <class Phase, class Handler>
bool runTrapped(Phase&& phase, Handler&& handler) {
  std::optional<RuntimeError> failure;
  try {
    std::forward<Phase>(phase)();
  } catch (const RuntimeError& error) {
    failure = error;
  }
  if (!failure) return true;
  std::forward<Handler>(handler)(*failure);
  return false;
}

}  // namespace platform
