#include "platform/console_forms.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <vector>

#include "platform/text.h"

namespace platform {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

}  // namespace

class ConsoleForms::View final : public FormView {
 public:
  View(ConsoleForms& forms, const FormDesign& design, FormEvents& events)
      : forms_(forms),
        design_(design),
        events_(events),
        texts_(design.controls.size()),
        values_(design.controls.size()) {
    for (std::size_t k = 0; k < design.controls.size(); ++k) {
      texts_[k] = toUtf8(design.controls[k].caption);
      values_[k] = design.controls[k].minimum;
    }
    // Reading order: top to bottom, then left to right.
    for (std::size_t k = 0; k < design.controls.size(); ++k) order_.push_back(k);
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
      const TwipsRect& ra = design.controls[a].bounds;
      const TwipsRect& rb = design.controls[b].bounds;
      return ra.top != rb.top ? ra.top < rb.top : ra.left < rb.left;
    });
    forms_.opened(*this);
  }

  ~View() override { forms_.closed(*this); }

  void show() override {
    shown_ = true;
    forms_.draw(true);
  }
  void setText(std::size_t control, const std::u16string& text) override { texts_.at(control) = toUtf8(text); }
  void setValue(std::size_t control, float value) override {
    checkBarValue(design_.controls.at(control), value);
    values_.at(control) = value;
  }

  std::string line() const {
    if (!shown_) return {};
    std::string text;
    std::string bars;
    for (std::size_t k : order_) {
      const ControlDesign& c = design_.controls[k];
      if (c.kind == ControlKind::label && !texts_[k].empty()) {
        if (!text.empty()) text.push_back(' ');
        text += texts_[k];
      } else if (c.kind == ControlKind::progressBar) {
        const float span = c.maximum - c.minimum;
        const float share = span > 0 ? (values_[k] - c.minimum) / span * 100.0F : 0.0F;
        bars += "  " + std::to_string(std::lround(share)) + "%";
      }
    }
    return text + bars;
  }

  // Ctrl-C is the press of the first button; a window without one takes it as its close command.
  void interrupt() {
    for (std::size_t k = 0; k < design_.controls.size(); ++k) {
      if (design_.controls[k].kind == ControlKind::pushButton) {
        events_.clicked(k);
        return;
      }
    }
    events_.closeRequested();
  }

 private:
  ConsoleForms& forms_;
  FormDesign design_;
  FormEvents& events_;
  std::vector<std::string> texts_;
  std::vector<float> values_;
  std::vector<std::size_t> order_;
  bool shown_ = false;
};

ConsoleForms::ConsoleForms(std::FILE* stream, bool draw) : stream_(stream), draw_(draw) {}

ConsoleForms::~ConsoleForms() { clear(); }

void ConsoleForms::opened(View& view) {
  if (open_.empty()) {
    // A program started with Ctrl-C ignored (in the background of a script, say) keeps it so.
    previousHandler_ = std::signal(SIGINT, onInterrupt);
    if (previousHandler_ == SIG_IGN) std::signal(SIGINT, SIG_IGN);
    interrupted = 0;
  }
  open_.push_back(&view);
}

void ConsoleForms::closed(View& view) {
  std::erase(open_, &view);
  clear();
  if (open_.empty()) std::signal(SIGINT, previousHandler_ == SIG_ERR ? SIG_DFL : previousHandler_);
}

std::unique_ptr<FormView> ConsoleForms::create(const FormDesign& design, FormEvents& events) {
  return std::make_unique<View>(*this, design, events);
}

void ConsoleForms::processPendingMessages() {
  if (interrupted != 0 && !open_.empty()) {
    interrupted = 0;
    // The window may be destroyed in there; nothing of it is used afterwards.
    open_.back()->interrupt();
  }
  draw(false);
}

std::string ConsoleForms::line() const { return open_.empty() ? std::string() : open_.back()->line(); }

void ConsoleForms::draw(bool force) {
  if (!draw_) return;
  const std::string now = line();
  if (now == drawn_) return;
  const auto time = std::chrono::steady_clock::now();
  if (!force && time - lastDrawn_ < std::chrono::milliseconds(50)) return;
  std::fprintf(stream_, "\r%s\033[K", now.c_str());
  std::fflush(stream_);
  drawn_ = now;
  lastDrawn_ = time;
}

void ConsoleForms::clear() {
  if (!draw_ || drawn_.empty()) return;
  std::fputs("\r\033[K", stream_);
  std::fflush(stream_);
  drawn_.clear();
}

}  // namespace platform
