#include "startup/run.h"

#include <cstdio>
#include <new>
#include <string>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "startup/exit_status.h"
#include "startup/form1.h"

namespace startup {
namespace {

constexpr char16_t kApplicationTitle[] = u"jetcompact";

void reportUntrapped(platform::Runtime& runtime, const platform::RuntimeError& failure) {
  const std::u16string text =
      u"Run-time error '" + platform::decimal(failure.number()) + u"':\n\n" + platform::fromUtf8(failure.description());
  try {
    runtime.userInterface().showMessage(text, kApplicationTitle);
  } catch (const platform::RuntimeError&) {
    // The failure may be the user interface's own: the error stream is the last resort.
    std::fputs((platform::toUtf8(text) + "\n").c_str(), stderr);
  }
}

}  // namespace

int run(platform::Runtime& runtime) {
  std::optional<platform::RuntimeError> untrapped;
  Form1 form(runtime);
  try {
    form.Form_Load();
  } catch (const platform::RuntimeError& failure) {
    untrapped = failure;
  } catch (const std::bad_alloc&) {
    untrapped = platform::RuntimeError(platform::error::kOutOfMemory);
  } catch (const std::exception& failure) {
    untrapped = platform::RuntimeError(platform::error::kInternalError, failure.what());
  }
  if (untrapped) {
    reportUntrapped(runtime, *untrapped);
    return exitUntrappedFailure;
  }
  return exitStatusFor(form.outcome());
}

}  // namespace startup
