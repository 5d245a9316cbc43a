#include "platform/testing/fake_forms.h"

#include <utility>

namespace platform::testing {
namespace {

class FakeView final : public FormView {
 public:
  explicit FakeView(std::shared_ptr<FakeWindow> window) : window_(std::move(window)) {}
  ~FakeView() override { window_->open = false; }

  void show() override { window_->shown = true; }
  void setText(std::size_t control, const std::u16string& text) override { window_->texts.at(control) = text; }
  void setValue(std::size_t control, float value) override {
    checkBarValue(window_->design.controls.at(control), value);
    window_->values.at(control).push_back(value);
  }

 private:
  std::shared_ptr<FakeWindow> window_;
};

}  // namespace

std::unique_ptr<FormView> FakeForms::create(const FormDesign& design, FormEvents& events) {
  auto window = std::make_shared<FakeWindow>();
  window->design = design;
  window->texts.resize(design.controls.size());
  window->values.resize(design.controls.size());
  windows.push_back(window);
  newest_ = &events;
  newestWindow_ = window;
  return std::make_unique<FakeView>(std::move(window));
}

void FakeForms::processPendingMessages() {
  ++pumps;
  if (log_ != nullptr) log_->push_back("pump");
  if (onPump) onPump();
  std::vector<std::optional<std::size_t>> actions = std::move(actions_);
  actions_.clear();
  for (const auto& action : actions) {
    // A closed window receives nothing, as on a screen.
    if (!newestWindow_ || !newestWindow_->open) break;
    if (action) {
      newest_->clicked(*action);
    } else {
      newest_->closeRequested();
    }
  }
}

}  // namespace platform::testing
