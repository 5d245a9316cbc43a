#include "platform/qt_forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QString>
#include <QWidget>

#include <cmath>
#include <vector>

namespace platform {
namespace {

QString toQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// The top-level widget. Its close command goes to the window's owner, which decides; the widget
// itself goes only when the view lets go of it.
class FormWidget final : public QWidget {
 public:
  explicit FormWidget(FormEvents& events) : events_(&events) {}
  void detach() { events_ = nullptr; }

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (events_ == nullptr) {
      event->accept();
      return;
    }
    event->ignore();
    events_->closeRequested();
  }

 private:
  FormEvents* events_;
};

class QtFormView final : public FormView {
 public:
  QtFormView(const FormDesign& design, FormEvents& events, double dotsPerInch) : design_(design) {
    auto px = [dotsPerInch](std::int32_t twips) { return twipsToPixels(twips, dotsPerInch); };
    widget_ = new FormWidget(events);
    widget_->setWindowTitle(toQString(design.caption));
    widget_->resize(px(design.clientWidth), px(design.clientHeight));
    QWidget* previous = nullptr;
    for (std::size_t k = 0; k < design.controls.size(); ++k) {
      const ControlDesign& c = design.controls[k];
      QWidget* control = nullptr;
      switch (c.kind) {
        case ControlKind::label: {
          auto* label = new QLabel(toQString(c.caption), widget_);
          // Text from the top left corner, as labels of a dialog design are drawn.
          label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
          control = label;
          break;
        }
        case ControlKind::progressBar: {
          auto* bar = new QProgressBar(widget_);
          bar->setRange(static_cast<int>(std::lround(c.minimum)), static_cast<int>(std::lround(c.maximum)));
          bar->setValue(bar->minimum());
          bar->setTextVisible(false);
          control = bar;
          break;
        }
        case ControlKind::pushButton: {
          auto* button = new QPushButton(toQString(c.caption), widget_);
          // Through the view, which the owner may destroy from inside the click.
          QObject::connect(button, &QPushButton::clicked, button, [&events, k] { events.clicked(k); });
          control = button;
          break;
        }
      }
      control->setObjectName(toQString(c.name));
      control->setGeometry(px(c.bounds.left), px(c.bounds.top), px(c.bounds.width), px(c.bounds.height));
      if (previous != nullptr) QWidget::setTabOrder(previous, control);
      previous = control;
      controls_.push_back(control);
    }
  }

  // Closing may come from inside one of the window's own callbacks (a click on its button), so the
  // widget is hidden now and deleted once Qt is back in its event loop.
  ~QtFormView() override {
    if (widget_.isNull()) return;
    widget_->detach();
    for (QWidget* control : controls_) QObject::disconnect(control, nullptr, nullptr, nullptr);
    widget_->hide();
    widget_->deleteLater();
  }

  void show() override { widget_->show(); }

  void setText(std::size_t control, const std::u16string& text) override {
    if (auto* label = qobject_cast<QLabel*>(controls_.at(control))) label->setText(toQString(text));
  }

  void setValue(std::size_t control, float value) override {
    checkBarValue(design_.controls.at(control), value);
    if (auto* bar = qobject_cast<QProgressBar*>(controls_.at(control)))
      bar->setValue(static_cast<int>(std::lround(value)));
  }

 private:
  FormDesign design_;
  QPointer<FormWidget> widget_;
  std::vector<QWidget*> controls_;  // children of widget_, in the design's order
};

}  // namespace

QtForms::QtForms(double dotsPerInch, const std::string& qtPlatform) : dotsPerInch_(dotsPerInch) {
  if (QCoreApplication::instance() != nullptr) return;
  // Qt keeps references to argc and argv for the application's whole life.
  static std::string platformArgument;
  platformArgument = qtPlatform;
  static int argc = 1;
  static char name[] = "jetcompact";
  static char option[] = "-platform";
  static char* argv[] = {name, nullptr, nullptr, nullptr};
  if (!platformArgument.empty()) {
    argv[1] = option;
    argv[2] = platformArgument.data();
    argc = 3;
  }
  application_ = std::make_unique<QApplication>(argc, argv);
}

QtForms::~QtForms() {
  // Windows closed since the last pump are deleted while their application still exists.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::unique_ptr<FormView> QtForms::create(const FormDesign& design, FormEvents& events) {
  double dpi = dotsPerInch_;
  if (dpi <= 0) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    dpi = screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
  }
  return std::make_unique<QtFormView>(design, events, dpi);
}

void QtForms::processPendingMessages() {
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace platform
