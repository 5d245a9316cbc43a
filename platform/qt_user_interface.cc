#include "platform/qt_user_interface.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QString>

#include <cstdlib>

namespace platform {
namespace {

QString toQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

bool environmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool displayAvailable() {
  return environmentSet("DISPLAY") || environmentSet("WAYLAND_DISPLAY") || environmentSet("QT_QPA_PLATFORM");
}

QtUserInterface::QtUserInterface() = default;
QtUserInterface::~QtUserInterface() = default;

QApplication& QtUserInterface::application() {
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
  // Qt keeps references to argc and argv for the application's whole life.
  static int argc = 1;
  static char name[] = "jetcompact";
  static char* argv[] = {name, nullptr};
  application_ = std::make_unique<QApplication>(argc, argv);
  return *application_;
}

void QtUserInterface::showMessage(const std::u16string& text, const std::u16string& title) {
  application();
  QMessageBox box(QMessageBox::NoIcon, toQString(title), toQString(text), QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void QtUserInterface::resetMousePointer() {
  if (QCoreApplication::instance() == nullptr) return;
  while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
}

void QtUserInterface::processPendingMessages() {
  if (QCoreApplication::instance() == nullptr) return;
  QCoreApplication::processEvents();
}

}  // namespace platform
