#pragma once
// Windows on a terminal, for sessions without a display: a window is one line of text (its
// labels in reading order, then each bar's percentage), redrawn in place as it changes. There is
// no pointer: Ctrl-C presses the newest window's first button while a window is open.

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms.h"

namespace platform {

class ConsoleForms final : public Forms {
 public:
  // Draws on `stream` when `draw` (a terminal); otherwise windows are kept but not drawn.
  ConsoleForms(std::FILE* stream, bool draw);
  ~ConsoleForms() override;
  ConsoleForms(const ConsoleForms&) = delete;
  ConsoleForms& operator=(const ConsoleForms&) = delete;

  std::unique_ptr<FormView> create(const FormDesign& design, FormEvents& events) override;
  // Acts on a Ctrl-C, then redraws the newest window's line if it changed (at most every 50 ms,
  // so that a fast pass does not spend its time drawing).
  void processPendingMessages() override;

  // The newest window's line as it would be drawn now; empty when none is open.
  std::string line() const;

  class View;

 private:
  friend class View;
  void opened(View& view);
  void closed(View& view);
  void draw(bool force);
  void clear();

  std::FILE* stream_;
  bool draw_;
  std::vector<View*> open_;                 // the newest last
  void (*previousHandler_)(int) = nullptr;  // Ctrl-C's handler before the first window opened
  std::string drawn_;
  std::chrono::steady_clock::time_point lastDrawn_{};
};

// Whether the standard error stream is a terminal.
bool errorStreamIsTerminal();

}  // namespace platform
