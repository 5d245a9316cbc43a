// The status window as a line on a terminal: what the line shows, how it is redrawn, and Ctrl-C
// as the press of "Prekini".

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/console_forms.h"
#include "platform/testing/fake_recordset.h"
#include "startup/cancelled.h"
#include "statuswindow/frmstatus.h"

namespace statuswindow {
namespace {

std::string contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) text.push_back(static_cast<char>(c));
  return text;
}

TEST(FrmstatusConsole, TheLineShowsSklIdentAndThePercentageAndIsClearedWhenTheWindowCloses) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  {
    platform::ConsoleForms forms(stream, true);
    auto records = std::make_shared<platform::testing::FakeRecordset>(platform::testing::articles(4));
    Frmstatus form(forms);
    form.setRS(records);
    EXPECT_EQ(forms.line(), "");
    form.show();
    EXPECT_EQ(forms.line(), "Skl, Artikel: 1 A1  0%");
    records->moveFirst();
    records->moveNext();
    EXPECT_EQ(forms.line(), "Skl, Artikel: 2 A2  50%");
    records->moveNext();
    records->moveNext();
    records->moveNext();
    EXPECT_FALSE(form.loaded());
    EXPECT_EQ(forms.line(), "");
  }
  const std::string drawn = contents(stream);
  std::fclose(stream);
  // Drawn when shown, redrawn in place (a fast pass is drawn at most every 50 ms), then cleared.
  EXPECT_EQ(drawn.rfind("\rSkl, Artikel: 1 A1  0%\033[K", 0), 0U) << drawn;
  EXPECT_EQ(drawn.substr(drawn.size() - 4), "\r\033[K");
  EXPECT_EQ(drawn.find('\n'), std::string::npos);
}

TEST(FrmstatusConsole, NothingIsDrawnWhereTheStreamIsNoTerminal) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  {
    platform::ConsoleForms forms(stream, false);
    Frmstatus form(forms);
    form.show();
    forms.processPendingMessages();
  }
  EXPECT_EQ(contents(stream), "");
  std::fclose(stream);
}

TEST(FrmstatusConsole, CtrlCPressesPrekiniWhileTheWindowIsOpen) {
  // As in a terminal, whatever the test runner's own disposition.
  std::signal(SIGINT, SIG_DFL);
  platform::ConsoleForms forms(nullptr, false);
  auto records = std::make_shared<platform::testing::FakeRecordset>(platform::testing::articles(4));
  Frmstatus form(forms);
  form.setRS(records);
  form.show();
  records->moveFirst();
  std::raise(SIGINT);
  EXPECT_TRUE(form.loaded()) << "acted on at the next pump, not inside the signal";
  records->moveNext();
  EXPECT_TRUE(startup::cancelled);
  EXPECT_FALSE(form.loaded());
  // The window gone, Ctrl-C is the terminal's own again.
  EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL);
}

}  // namespace
}  // namespace statuswindow
