#pragma once
// The process-wide abort flag of long passes: a window that shows a pass clears it when it loads
// and sets it when its user aborts; the caller that runs the pass reads it after each step.

namespace startup {

extern bool cancelled;

}  // namespace startup
