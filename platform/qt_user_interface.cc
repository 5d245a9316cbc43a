#include "platform/qt_user_interface.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QString>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

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

// Qt ends the process when it cannot reach the X display it is told to use (a stale DISPLAY in
// a remote session, say). Asking the X server first costs one connection, only when a first
// message is due.
bool displayReachable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0' && std::strncmp(platform, "xcb", 3) != 0) return true;
  if (environmentSet("DISPLAY")) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (reached) return true;
  }
  return environmentSet("WAYLAND_DISPLAY") && platform == nullptr;
}

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
  if (QCoreApplication::instance() == nullptr && !displayReachable()) {
    console_.showMessage(text, title);
    return;
  }
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
