#include "tools/jetdb/walk_command.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/console_forms.h"
#include "platform/jet_recordset.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "startup/cancelled.h"
#include "statuswindow/frmstatus.h"
#if JETDB_WITH_QT
#include "platform/qt_loader.h"
#endif

namespace tools {
namespace {

constexpr int kExitStopped = 4;

int usage() {
  std::fputs("usage: jetdb walk FILE [TABLE] [--delay MS]\n", stderr);
  return 2;
}

// The windows of this session: Qt's where a display can be reached, a line on the terminal
// otherwise.
std::unique_ptr<platform::Forms> sessionForms() {
#if JETDB_WITH_QT
  // The pass goes on by itself, so a window nobody sees (Qt's offscreen platform) does no harm.
  if (platform::displayAvailable()) {
    std::string whyNot;
    if (std::unique_ptr<platform::Forms> forms = platform::qtForms(true, whyNot)) return forms;
    if (!whyNot.empty()) std::fprintf(stderr, "jetdb: no window (%s); progress on the terminal\n", whyNot.c_str());
  }
#endif
  return std::make_unique<platform::ConsoleForms>(stderr, platform::errorStreamIsTerminal());
}

// Waits, keeping the window responsive: a press of "Prekini" while the caller waits ends the wait.
void wait(platform::Forms& forms, const statuswindow::Frmstatus& form, long milliseconds) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (form.loaded() && !startup::cancelled) {
    const auto now = Clock::now();
    if (now >= end) break;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(20)));
    forms.processPendingMessages();
  }
}

}  // namespace

int runWalkCommand(int argc, char** argv) {
  const char* file = nullptr;
  const char* table = "Artikli";
  long delay = 0;
  int positional = 0;
  for (int k = 0; k < argc; ++k) {
    if (std::strcmp(argv[k], "--delay") == 0) {
      if (k + 1 >= argc) return usage();
      char* end = nullptr;
      delay = std::strtol(argv[++k], &end, 10);
      if (end == argv[k] || *end != '\0' || delay < 0 || delay > 3'600'000) return usage();
    } else if (positional == 0) {
      file = argv[k];
      ++positional;
    } else if (positional == 1) {
      table = argv[k];
      ++positional;
    } else {
      return usage();
    }
  }
  if (file == nullptr) return usage();

  try {
    std::shared_ptr<platform::Recordset> records = platform::openTableRecordset(file, platform::fromUtf8(table));
    const std::int32_t count = records->recordCount();
    std::int64_t visited = 0;
    bool reachedEnd = false;
    {
      std::unique_ptr<platform::Forms> forms = sessionForms();
      statuswindow::Frmstatus form(*forms);
      form.setRS(records);
      form.show();
      records->moveFirst();
      while (!records->eof()) {
        ++visited;
        wait(*forms, form, delay);
        if (!form.loaded() || startup::cancelled) break;
        records->moveNext();
      }
      reachedEnd = records->eof() && !startup::cancelled;
      form.unload();
    }
    std::printf("%s: %lld of %d records visited%s\n", table, static_cast<long long>(visited), count,
                reachedEnd ? "" : ", stopped by the user");
    return reachedEnd ? 0 : kExitStopped;
  } catch (const platform::RuntimeError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "jetdb: %s (error %d)\n", e.what(), e.number());
    return 1;
  }
}

}  // namespace tools
