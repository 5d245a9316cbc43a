#include "statuswindow/frmstatus.h"

#include <algorithm>
#include <utility>

#include "platform/traps.h"
#include "startup/cancelled.h"

namespace statuswindow {

const platform::FormDesign& Frmstatus::design() {
  using platform::ControlKind;
  static const platform::FormDesign form{
      u"Obdelava v teku",
      6135,
      2100,
      {
          {u"ProgressBar1", ControlKind::progressBar, {240, 720, 5775, 375}, u"", u"", 0, 100},
          {u"Label1", ControlKind::label, {240, 240, 3852, 372}, u"Skl, Artikel:", u"", 0, 100},
          {u"Label2", ControlKind::label, {1440, 240, 972, 252}, u"", u"skl", 0, 100},
          {u"Label3", ControlKind::label, {2520, 240, 1572, 252}, u"", u"ident", 0, 100},
          {u"Command1", ControlKind::pushButton, {5160, 1560, 975, 375}, u"Prekini", u"", 0, 100},
          {u"Label4", ControlKind::label, {4200, 240, 1812, 252}, u"", u"", 0, 100},
      }};
  return form;
}

float percentOf(std::int32_t position, std::int32_t count) {
  if (count <= 0) return 0;
  // Divided before multiplied, in double, then narrowed: the bar shows exactly 25, 50, 75, 100
  // for four records.
  const auto percent = static_cast<float>(static_cast<double>(position) / static_cast<double>(count) * 100.0);
  return std::clamp(percent, 0.0F, 100.0F);
}

Frmstatus::Frmstatus(platform::Forms& forms) : forms_(forms) {}

Frmstatus::~Frmstatus() { unload(); }

void Frmstatus::setRS(std::shared_ptr<platform::Recordset> recordset) { rs_.connect(std::move(recordset), *this); }

void Frmstatus::load() {
  if (view_) return;
  view_ = forms_.create(design(), *this);
  Form_Load();
}

void Frmstatus::show() {
  load();
  view_->show();
}

void Frmstatus::unload() {
  if (!view_) return;
  std::int16_t cancel = 0;
  Form_Unload(cancel);
  if (cancel != 0) return;
  label2Binding_.reset();
  label3Binding_.reset();
  view_.reset();
}

void Frmstatus::Form_Load() {
  startup::cancelled = false;
  const auto& controls = design().controls;
  platform::resumeNext([&] {
    label2Binding_ = std::make_unique<platform::BoundLabel>(*view_, Label2, controls[Label2].dataField, RS());
  });
  platform::resumeNext([&] {
    label3Binding_ = std::make_unique<platform::BoundLabel>(*view_, Label3, controls[Label3].dataField, RS());
  });
}

void Frmstatus::Form_Unload(std::int16_t&) { rs_.reset(); }

void Frmstatus::Command1_Click() {
  startup::cancelled = true;
  unload();
}

void Frmstatus::rs_MoveComplete(platform::MoveReason, std::int32_t, platform::EventStatus&, platform::Recordset&) {
  // A recordset assigned to a window that is not loaded has nothing to move.
  if (!view_ || !RS()) return;
  if (RS()->eof()) {
    unload();
    return;
  }
  view_->setValue(ProgressBar1, percentOf(RS()->absolutePosition(), RS()->recordCount()));
  // Repaints, and lets a press of "Prekini" act before the caller's next move. The window may be
  // unloaded and RS released in there, while the caller's move is still on the stack: nothing
  // may touch either afterwards.
  forms_.processPendingMessages();
}

void Frmstatus::clicked(std::size_t control) {
  if (control == Command1) Command1_Click();
}

void Frmstatus::closeRequested() { unload(); }

void Frmstatus::moveComplete(platform::MoveReason reason, std::int32_t failure, platform::EventStatus& status,
                             platform::Recordset& recordset) {
  rs_MoveComplete(reason, failure, status, recordset);
}

}  // namespace statuswindow
