#include "platform/qt_user_interface.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QDir>
#include <QString>
#include <QStringList>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace platform {
namespace {

QString toQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

bool environmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Qt ends the process when the platform it is told to use cannot start (a stale DISPLAY in a remote session, a
// Wayland session on a machine without Qt's Wayland plugin), and the message would be lost. So the platform is
// chosen here, among those Qt would try, and only one that is installed and answers is handed to Qt.
bool pluginInstalled(const QString& name) {
  // The Wayland platform comes in several plugins (libqwayland-generic, libqwayland-egl, ...).
  const bool wayland = name.startsWith(QLatin1String("wayland"));
  const QString exact = QLatin1String("libq") + name + QLatin1String(".so");
  for (const QString& folder : QCoreApplication::libraryPaths()) {
    const QDir platforms(folder + QLatin1String("/platforms"));
    for (const QString& file : platforms.entryList(QDir::Files)) {
      if (file == exact ||
          (wayland && file.startsWith(QLatin1String("libqwayland")) && file.endsWith(QLatin1String(".so")))) {
        return true;
      }
    }
  }
  return false;
}

bool xDisplayAnswers() {
  if (!environmentSet("DISPLAY")) return false;
  int screen = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screen);
  const bool reached = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return reached;
}

// The compositor's socket: WAYLAND_DISPLAY (default wayland-0), relative to XDG_RUNTIME_DIR unless absolute.
bool waylandDisplayAnswers() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  std::string path = display != nullptr && *display != '\0' ? display : "wayland-0";
  if (path.front() != '/') {
    const char* runtimeFolder = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeFolder == nullptr || *runtimeFolder == '\0') return false;
    path = std::string(runtimeFolder) + "/" + path;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return false;
  const bool reached = ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(socket);
  return reached;
}

// Platforms that draw nowhere a person can see: a box there would wait for ever for a click.
bool drawsForNobody(const QString& name) {
  return name == QLatin1String("offscreen") || name == QLatin1String("minimal") || name == QLatin1String("minimalegl");
}

// Whether the platform of a QT_QPA_PLATFORM entry ("name" or "name:options") can show a box to a person.
bool platformUsable(const QString& entry, bool invisibleAllowed) {
  const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
  if (name.isEmpty() || !pluginInstalled(name)) return false;
  if (drawsForNobody(name)) return invisibleAllowed;
  if (name == QLatin1String("xcb")) return xDisplayAnswers();
  if (name.startsWith(QLatin1String("wayland"))) return waylandDisplayAnswers();
  return true;  // a frame buffer, a VNC server, ...: the user asked for it
}

// The platforms Qt would try, in its order: those QT_QPA_PLATFORM lists, else the session's.
QStringList candidatePlatforms() {
  const char* requested = std::getenv("QT_QPA_PLATFORM");
  if (requested != nullptr && *requested != '\0') {
    return QString::fromLocal8Bit(requested).split(QLatin1Char(';'), Qt::SkipEmptyParts);
  }
  QStringList candidates;
  const char* session = std::getenv("XDG_SESSION_TYPE");
  const bool waylandSession = session != nullptr && std::strcmp(session, "wayland") == 0;
  if (environmentSet("WAYLAND_DISPLAY") && waylandSession) candidates << QStringLiteral("wayland");
  if (environmentSet("DISPLAY")) candidates << QStringLiteral("xcb");
  if (environmentSet("WAYLAND_DISPLAY") && !waylandSession) candidates << QStringLiteral("wayland");
  return candidates;
}

std::optional<QString> choosePlatform(bool invisibleAllowed) {
  for (const QString& entry : candidatePlatforms()) {
    if (platformUsable(entry, invisibleAllowed)) return entry;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> usableQtPlatform(bool invisibleAllowed) {
  const std::optional<QString> platform = choosePlatform(invisibleAllowed);
  if (!platform) return std::nullopt;
  return platform->toLocal8Bit().toStdString();
}

QtUserInterface::QtUserInterface(std::string qtPlatform) : qtPlatform_(std::move(qtPlatform)) {}
QtUserInterface::~QtUserInterface() = default;

void QtUserInterface::showMessage(const std::u16string& text, const std::u16string& title) {
  if (QCoreApplication::instance() == nullptr) {
    // Qt keeps references to argc and argv for the application's whole life.
    static std::string platformArgument;
    platformArgument = qtPlatform_;
    static int argc = 3;
    static char name[] = "jetcompact";
    static char option[] = "-platform";
    static char* argv[] = {name, option, platformArgument.data(), nullptr};
    application_ = std::make_unique<QApplication>(argc, argv);
  }
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
