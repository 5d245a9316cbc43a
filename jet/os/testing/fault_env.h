// A double of the Env for tests: passes everything to another Env (the system's by default) and fails on demand, the
// way a full disk, a failing disk or another user's lock would make the real one fail.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/errors.h"
#include "jet/os/env.h"

namespace jet::os_testing {

class FaultEnv : public Env {
 public:
  explicit FaultEnv(Env& base = Env::system()) : base_(base) {}

  // Writes to destinations pass until `count` of them have been made; every one after that throws `code`.
  void failWritesAfter(uint64_t count, ErrorCode code);
  // Reads from sources (a scattered read counts as one) pass until `count` of them have been made; every one after
  // that throws `code`.
  void failReadsAfter(uint64_t count, ErrorCode code = ErrorCode::DiskIoRead);
  // Counts (and fails) only the reads of the files `which` accepts, by name. How many reads of a destination read back
  // while it is written are made depends on how far the writer is, so a test that wants its failures at set points
  // counts the reads of the source alone, or fails the destination's early.
  void countReadsOf(std::function<bool(const std::string& name)> which) { readsOf_ = std::move(which); }
  // Each of these makes the method throw `code` without asking the base Env.
  void failOpen(ErrorCode code) { openFailure_ = code; }
  void failLock(ErrorCode code) { lockFailure_ = code; }
  void failCreate(ErrorCode code) { createFailure_ = code; }
  // Makes lockedByOthers report every file as locked by another user.
  void lockEverything() { lockEverything_ = true; }

  uint64_t writes() const { return writes_; }
  uint64_t reads() const { return reads_; }
  // The paths destinations were created at, in order.
  const std::vector<std::string>& created() const { return created_; }

  std::unique_ptr<PageSource> openSource(const std::string& path) override;
  std::unique_ptr<FileLock> lockSource(const std::string& path) override;
  std::unique_ptr<PageSink> createDestination(const std::string& path) override;
  std::unique_ptr<PageSink> createHiddenDestination(const std::string& path) override;
  void publishDestination(const std::string& hidden, const std::string& path, bool keepHiddenName) override;
  void removeLeftovers(const std::string& path, const std::string& source) override;
  bool lockedByOthers(const std::string& path, LockProbe kind) override;
  void flushFolder(const std::string& folder) override;
  std::vector<std::string> findIgnoringCase(const std::string& folder, const std::string& name) override;

  // Counts one write; throws when it is one too many. For the sinks this Env hands out.
  void write(const std::string& name);
  // The same for reads, which may come from several threads.
  void read(const std::string& name);

 private:
  Env& base_;
  std::atomic<uint64_t> writes_{0};
  std::atomic<uint64_t> reads_{0};
  std::optional<uint64_t> writesAllowed_;
  ErrorCode writeFailure_ = ErrorCode::DiskIoWrite;
  std::function<bool(const std::string&)> readsOf_;
  std::optional<uint64_t> readsAllowed_;
  ErrorCode readFailure_ = ErrorCode::DiskIoRead;
  std::optional<ErrorCode> openFailure_;
  std::optional<ErrorCode> lockFailure_;
  std::optional<ErrorCode> createFailure_;
  bool lockEverything_ = false;
  std::vector<std::string> created_;
};

}  // namespace jet::os_testing
