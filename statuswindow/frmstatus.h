#pragma once
// Frmstatus: a small window for a long pass over a recordset. Bound to the recordset, it shows
// the current record's "skl" and "ident", a percentage bar that follows the position, closes
// itself when the recordset reaches its end, and offers "Prekini", which raises the process-wide
// flag `cancelled`.
//
// A caller assigns the recordset, loads and shows the window, then moves through the records,
// reading `cancelled` after each move and stopping when it is set or the window is gone.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/bound_label.h"
#include "platform/forms.h"
#include "platform/recordset.h"

namespace statuswindow {

class Frmstatus final : private platform::FormEvents, private platform::MoveCompleteListener {
 public:
  // The controls, by their place in the design, which is also the tab order.
  enum Control : std::size_t { ProgressBar1, Label1, Label2, Label3, Command1, Label4 };
  static const platform::FormDesign& design();

  explicit Frmstatus(platform::Forms& forms);
  ~Frmstatus();
  Frmstatus(const Frmstatus&) = delete;
  Frmstatus& operator=(const Frmstatus&) = delete;

  // RS: the recordset the window follows. Assigning it subscribes the window to its moves; the
  // labels are bound to what it holds when the window loads.
  void setRS(std::shared_ptr<platform::Recordset> recordset);
  // A new reference: a caller that moves through form.RS() keeps the recordset alive for the
  // move even when the move closes the window and the window lets go of it.
  std::shared_ptr<platform::Recordset> RS() const { return rs_.recordset(); }

  // Creates the window and runs Form_Load; nothing when it is loaded already.
  void load();
  // Loads the window if needed and shows it.
  void show();
  // Runs Form_Unload and closes the window; nothing when it is not loaded.
  void unload();
  bool loaded() const { return view_ != nullptr; }

 private:
  // The window's event handlers.
  void Form_Load();
  void Form_Unload(std::int16_t& cancel);
  void Command1_Click();
  void rs_MoveComplete(platform::MoveReason adReason, std::int32_t pError, platform::EventStatus& adStatus,
                       platform::Recordset& pRecordset);

  void clicked(std::size_t control) override;
  void closeRequested() override;
  void moveComplete(platform::MoveReason reason, std::int32_t failure, platform::EventStatus& status,
                    platform::Recordset& recordset) override;

  platform::Forms& forms_;
  std::unique_ptr<platform::FormView> view_;
  platform::Subscription rs_;  // RS, and the window's subscription to its events
  std::unique_ptr<platform::BoundLabel> label2Binding_;
  std::unique_ptr<platform::BoundLabel> label3Binding_;
};

// The bar's value for a position of a count, in percent: 0 when the count is not positive (an
// empty recordset, or one that does not know its count), and never outside 0 to 100.
float percentOf(std::int32_t position, std::int32_t count);

}  // namespace statuswindow
