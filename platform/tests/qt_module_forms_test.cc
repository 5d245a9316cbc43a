// Windows drawn by the Qt module, as `jetdb walk` gets them through the loader, off screen. The
// test links Qt to find the widgets; the module's application is this process's.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/error_numbers.h"
#include "platform/qt_loader.h"
#include "platform/runtime_error.h"

namespace platform {
namespace {

struct ThrowingEvents final : FormEvents {
  int clicks = 0;
  void clicked(std::size_t) override {
    ++clicks;
    throw RuntimeError(error::kDeviceIoError);
  }
  void closeRequested() override {}
};

template <typename Widget>
Widget* find(const char* name) {
  for (QWidget* widget : QApplication::allWidgets()) {
    if (auto* found = qobject_cast<Widget*>(widget); found != nullptr && widget->objectName() == name) return found;
  }
  return nullptr;
}

TEST(QtModuleForms, DrawsTheDesignAndKeepsItsOwnersFailuresOnItsSide) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string whyNot;
  std::unique_ptr<Forms> forms = qtForms(true, whyNot);
  ASSERT_NE(forms, nullptr) << whyNot;
  EXPECT_EQ(whyNot, "");
  FormDesign design{u"Obdelava v teku", 6135, 2100, {}};
  design.controls.push_back({u"Label1", ControlKind::label, {120, 120, 3000, 300}, u"Skl", u"", 0, 100});
  design.controls.push_back({u"ProgressBar1", ControlKind::progressBar, {120, 600, 5000, 300}, u"", u"", 0, 100});
  design.controls.push_back({u"Command1", ControlKind::pushButton, {5160, 1560, 975, 375}, u"Prekini", u"", 0, 100});
  ThrowingEvents events;
  std::unique_ptr<FormView> view = forms->create(design, events);
  view->show();
  view->setText(0, u"CELJE");
  view->setValue(1, 48);
  forms->processPendingMessages();

  ASSERT_NE(find<QLabel>("Label1"), nullptr);
  EXPECT_EQ(find<QLabel>("Label1")->text(), "CELJE");
  EXPECT_EQ(find<QLabel>("Label1")->window()->windowTitle(), "Obdelava v teku");
  EXPECT_EQ(find<QProgressBar>("ProgressBar1")->value(), 48);
  // Outside the bar's range: 380, and the bar keeps its value.
  try {
    view->setValue(1, 101);
    ADD_FAILURE() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), error::kInvalidPropertyValue);
  }
  EXPECT_EQ(find<QProgressBar>("ProgressBar1")->value(), 48);

  // What the owner throws from a click comes out of the next pump, not out of Qt.
  find<QPushButton>("Command1")->click();
  EXPECT_EQ(events.clicks, 1);
  try {
    forms->processPendingMessages();
    ADD_FAILURE() << "the click's failure was lost";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), error::kDeviceIoError);
  }
  forms->processPendingMessages();
  view.reset();
  forms->processPendingMessages();
  EXPECT_EQ(find<QLabel>("Label1"), nullptr);
}

}  // namespace
}  // namespace platform
