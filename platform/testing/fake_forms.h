#pragma once
// Windows for tests: nothing is drawn; each window's texts, bar values and state are kept after
// it closes, and user actions (a click, the close command) wait for the next message pump, as
// they would on a screen.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/forms.h"

namespace platform::testing {

struct FakeWindow {
  FormDesign design;
  std::vector<std::optional<std::u16string>> texts;  // per control; empty until set
  std::vector<std::vector<float>> values;            // per control, every value accepted
  bool shown = false;
  bool open = true;
};

class FakeForms final : public Forms {
 public:
  // `log`, when given, receives "pump" at each message pump.
  explicit FakeForms(std::vector<std::string>* log = nullptr) : log_(log) {}

  // Every window created, the last one last.
  std::vector<std::shared_ptr<FakeWindow>> windows;
  int pumps = 0;
  // Runs at each pump, before the actions that wait for it.
  std::function<void()> onPump;

  // Delivered to the newest window at the next pump.
  void clickAtNextPump(std::size_t control) { actions_.push_back(control); }
  void closeAtNextPump() { actions_.push_back(std::nullopt); }

  std::unique_ptr<FormView> create(const FormDesign& design, FormEvents& events) override;
  void processPendingMessages() override;

 private:
  std::vector<std::string>* log_;
  std::vector<std::optional<std::size_t>> actions_;  // a control clicked, or the close command
  FormEvents* newest_ = nullptr;
  std::shared_ptr<FakeWindow> newestWindow_;
};

}  // namespace platform::testing
