#pragma once
// The start-up form: loading it performs one compaction run. It is never shown.

#include <optional>
#include <string>

#include "compaction/reindex.h"
#include "platform/runtime.h"

namespace startup {

class Form1 {
 public:
  explicit Form1(platform::Runtime& runtime) : runtime_(runtime) {}

  // Takes the database name from the command line, makes the executable's folder the current
  // folder and compacts the database there. An empty name ends the run without anything else.
  // A failure it does not handle (the folder cannot be entered, or a failure while a
  // compaction failure is being reported) goes to the caller.
  void Form_Load();

  // Backs up and compacts the database; rewrites `dbname` in upper case.
  void reindex(std::u16string& dbname);

  // How the run's compaction ended; nothing when none was attempted.
  std::optional<compaction::Outcome> outcome() const { return outcome_; }

 private:
  platform::Runtime& runtime_;
  std::optional<compaction::Outcome> outcome_;
};

}  // namespace startup
