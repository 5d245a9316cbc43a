// The Qt message box as the executables show it, through the loader and the Qt module: drawn off
// screen and closed by the test as a user would close it. The test links Qt to look at the box;
// the module uses the same Qt libraries, so the application it starts is this process's.

#include "platform/qt_loader.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace platform {
namespace {

struct SeenBox {
  bool found = false;
  bool modal = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::Warning;
  qsizetype buttons = 0;
  QMessageBox::StandardButtons standardButtons;
};

SeenBox seen;

// Looks for the box once the event loop runs, records what it shows and presses OK.
void closeTheBoxWhenItAppears() {
  auto* poll = new QTimer(QCoreApplication::instance());
  QObject::connect(poll, &QTimer::timeout, [poll] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    poll->stop();
    seen = {true,        box->isModal(),        box->windowTitle(),    box->text(),
            box->icon(), box->buttons().size(), box->standardButtons()};
    box->button(QMessageBox::Ok)->click();
  });
  poll->start(10);
  // A box that never appears must not hang the test: whatever is open is closed after 20 s.
  QTimer::singleShot(20000, [] { QApplication::closeAllWindows(); });
}

bool moduleMapped() {
  std::ifstream maps("/proc/self/maps");
  const std::string text{std::istreambuf_iterator<char>(maps), std::istreambuf_iterator<char>()};
  return text.find("jetcompact_qt") != std::string::npos;
}

class QtMessageBox : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QT_QPA_PLATFORM", "offscreen", 1); }
};

TEST_F(QtMessageBox, NothingIsLoadedAndNothingStartsQtBeforeTheFirstMessage) {
  std::unique_ptr<UserInterface> ui = qtUserInterface();
  EXPECT_TRUE(displayAvailable());
  ui->resetMousePointer();
  ui->processPendingMessages();
  EXPECT_FALSE(moduleMapped());
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST_F(QtMessageBox, ShowsAModalBoxWithTitleTextAndOnlyAnOkButton) {
  // Runs as soon as the application object exists, which the first message creates.
  qAddPreRoutine([] { QTimer::singleShot(0, closeTheBoxWhenItAppears); });
  std::unique_ptr<UserInterface> ui = qtUserInterface(true);
  ui->showMessage(u"Napaka 70 pri stiskanju baze!", u"Napaka");
  EXPECT_TRUE(moduleMapped());
  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.title, "Napaka");
  EXPECT_EQ(seen.text, "Napaka 70 pri stiskanju baze!");
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons, 1);
  EXPECT_EQ(seen.standardButtons, QMessageBox::Ok);

  // The application stays for the next message and for the pointer and message pump.
  QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
  ui->resetMousePointer();
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  ui->processPendingMessages();
}

// Each of these would end in Qt aborting the process or in a box that nobody sees and the run waiting for ever.
TEST(QtMessageBoxWithoutDisplay, APlatformThatCannotShowABoxToAPersonFallsBackToTheErrorStream) {
  struct Session {
    const char* platform;
    const char* display;
    const char* wayland;
    const char* sessionType;
  };
  const Session sessions[] = {
      {nullptr, ":97", nullptr, nullptr},                // an X display that does not answer
      {nullptr, nullptr, "wayland-97", "wayland"},       // a Wayland session without plugin or compositor
      {nullptr, ":97", "wayland-97", "wayland"},         // neither of the two
      {"wayland", nullptr, "wayland-97", nullptr},       // asked for by name
      {"offscreen", nullptr, nullptr, nullptr},          // drawn in memory only
      {"minimal", ":97", nullptr, nullptr},              // drawn nowhere
      {"offscreen;minimal", nullptr, nullptr, nullptr},  // a list of such
      {"nosuchplatform", nullptr, nullptr, nullptr},     // no plugin at all
  };
  auto set = [](const char* name, const char* value) {
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  };
  ::setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
  for (const Session& session : sessions) {
    SCOPED_TRACE(std::string(session.platform ? session.platform : "-") + " " +
                 (session.display ? session.display : "-") + " " + (session.wayland ? session.wayland : "-"));
    set("QT_QPA_PLATFORM", session.platform);
    set("DISPLAY", session.display);
    set("WAYLAND_DISPLAY", session.wayland);
    set("XDG_SESSION_TYPE", session.sessionType);
    std::unique_ptr<UserInterface> ui = qtUserInterface();
    ::testing::internal::CaptureStderr();
    ui->showMessage(u"Izbrana baza je v uporabi!", u"Napaka");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Napaka: Izbrana baza je v uporabi!\n");
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
  }
}

TEST(QtModuleFolders, BesideTheExecutableFirstThenWhereTheBuildPutIt) {
  namespace fs = std::filesystem;
  ::unsetenv("JETCOMPACT_QT_MODULE_DIR");
  const std::vector<fs::path> folders = qtModuleFolders();
  ASSERT_GE(folders.size(), 2U);
  EXPECT_EQ(folders[0], fs::read_symlink("/proc/self/exe").parent_path());
  EXPECT_TRUE(fs::exists(folders[1] / "jetcompact_qt.so"));
  // A test's folder replaces them all.
  ::setenv("JETCOMPACT_QT_MODULE_DIR", "/nowhere", 1);
  EXPECT_EQ(qtModuleFolders(), std::vector<fs::path>{"/nowhere"});
  ::unsetenv("JETCOMPACT_QT_MODULE_DIR");
}

}  // namespace
}  // namespace platform
