#pragma once
// Windows drawn from a design: a caption, a client area and controls placed in twips. The logic
// of a window describes it once (FormDesign) and talks to whatever draws it (FormView) by the
// controls' positions in the design; the view calls back when the user acts. Each system has its
// own Forms: Qt widgets, a line on a terminal, a Win32 dialog; tests use a recording double.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Twips: 1/1440 of an inch.
struct TwipsRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Pixels for a length in twips on a screen of `dotsPerInch` (15 twips a pixel at 96), rounded to
// the nearest pixel.
int twipsToPixels(std::int32_t twips, double dotsPerInch);

enum class ControlKind { label, progressBar, pushButton };

struct ControlDesign {
  std::u16string name;  // Label1, Command1, ...
  ControlKind kind = ControlKind::label;
  TwipsRect bounds;
  std::u16string caption;    // labels and buttons
  std::u16string dataField;  // labels: the recordset field they show once bound
  float minimum = 0;         // progress bars
  float maximum = 100;
};

struct FormDesign {
  std::u16string caption;
  std::int32_t clientWidth = 0;  // twips
  std::int32_t clientHeight = 0;
  // In tab order; a control is named by its index here.
  std::vector<ControlDesign> controls;
};

// What the user does to a window. Called from inside Forms::processPendingMessages only.
class FormEvents {
 public:
  // A button was pressed (on a terminal, where there is no pointer, Ctrl-C presses the window's
  // first button).
  virtual void clicked(std::size_t control) = 0;
  // The window's own close command (its title bar's close button, Alt+F4). The window stays
  // until its owner destroys the view.
  virtual void closeRequested() = 0;

 protected:
  ~FormEvents() = default;
};

// One window on the screen. Destroying the view closes the window without calling back; that
// may happen from inside one of its own callbacks.
class FormView {
 public:
  virtual ~FormView() = default;

  virtual void show() = 0;
  // A label's text.
  virtual void setText(std::size_t control, const std::u16string& text) = 0;
  // A progress bar's current value. Fails with 380 outside the bar's minimum and maximum, and
  // changes nothing then.
  virtual void setValue(std::size_t control, float value) = 0;
};

class Forms {
 public:
  virtual ~Forms() = default;

  // A new, hidden window; `events` outlives it.
  virtual std::unique_ptr<FormView> create(const FormDesign& design, FormEvents& events) = 0;
  // Dispatches what is waiting for this process's windows (repaints, clicks, close commands)
  // before returning.
  virtual void processPendingMessages() = 0;
};

// Fails with 380 unless minimum <= value <= maximum; for views that check a bar's value.
void checkBarValue(const ControlDesign& bar, float value);

}  // namespace platform
