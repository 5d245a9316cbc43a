#pragma once
// Windows drawn with Qt widgets: a top-level widget with the design's caption and client size,
// and a QLabel, QProgressBar or QPushButton per control at its place, converted from twips for
// the screen's logical resolution.

#include <memory>
#include <string>

#include "platform/forms.h"

class QApplication;

namespace platform {

class QtForms final : public Forms {
 public:
  // Uses the running Qt application or starts one on `qtPlatform` (Qt's own choice when empty),
  // which then lives as long as this object. `dotsPerInch` 0 takes the primary screen's logical
  // resolution.
  explicit QtForms(double dotsPerInch = 0, const std::string& qtPlatform = {});
  ~QtForms() override;
  QtForms(const QtForms&) = delete;
  QtForms& operator=(const QtForms&) = delete;

  std::unique_ptr<FormView> create(const FormDesign& design, FormEvents& events) override;
  // Qt's pending events, then the deletion of windows closed meanwhile.
  void processPendingMessages() override;

 private:
  std::unique_ptr<QApplication> application_;
  double dotsPerInch_;
};

}  // namespace platform
