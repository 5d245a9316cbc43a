#pragma once
// Windows drawn with the system's own controls: a dialog-like top-level window with the design's caption and client
// size, and a static text, the system's progress bar (msctls_progress32) or a push button per control at its place,
// converted from twips for the screen's resolution.

#include <memory>

#include "platform/forms.h"

namespace platform {

class Win32Forms final : public Forms {
 public:
  // `dotsPerInch` 0 takes the screen's logical resolution.
  explicit Win32Forms(double dotsPerInch = 0);
  ~Win32Forms() override;
  Win32Forms(const Win32Forms&) = delete;
  Win32Forms& operator=(const Win32Forms&) = delete;

  std::unique_ptr<FormView> create(const FormDesign& design, FormEvents& events) override;
  // The system's message queue, with the keyboard's dialog navigation (Tab, Return, Escape) for the windows.
  void processPendingMessages() override;

 private:
  double dotsPerInch_;
};

}  // namespace platform
