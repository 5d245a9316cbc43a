#include "jet/os/testing/fault_env.h"

namespace jet::os_testing {
namespace {

class FaultSource : public PageSource {
 public:
  FaultSource(FaultEnv& env, std::unique_ptr<PageSource> inner) : env_(env), inner_(std::move(inner)) {}
  const std::string& name() const override { return inner_->name(); }
  uint64_t size() const override { return inner_->size(); }
  void read(uint64_t offset, std::span<uint8_t> out) override {
    env_.read(name());
    inner_->read(offset, out);
  }
  void readScattered(uint64_t offset, std::span<const std::span<uint8_t>> parts) override {
    env_.read(name());
    inner_->readScattered(offset, parts);
  }
  void willRead(uint64_t offset, uint64_t length) override { inner_->willRead(offset, length); }

 private:
  FaultEnv& env_;
  std::unique_ptr<PageSource> inner_;
};

class FaultSink : public PageSink {
 public:
  FaultSink(FaultEnv& env, std::unique_ptr<PageSink> inner) : env_(env), inner_(std::move(inner)) {}
  const std::string& name() const override { return inner_->name(); }
  void write(uint64_t offset, Bytes data) override {
    env_.write(name());
    inner_->write(offset, data);
  }
  void writeOwned(uint64_t offset, std::vector<uint8_t> data) override {
    env_.write(name());
    inner_->writeOwned(offset, std::move(data));
  }
  bool observeWritten(WrittenObserver observer) override { return inner_->observeWritten(std::move(observer)); }
  bool writeOut() override { return inner_->writeOut(); }
  void finish() override { inner_->finish(); }
  void discard() noexcept override { inner_->discard(); }

 private:
  FaultEnv& env_;
  std::unique_ptr<PageSink> inner_;
};

}  // namespace

void FaultEnv::failWritesAfter(uint64_t count, ErrorCode code) {
  writesAllowed_ = count;
  writeFailure_ = code;
}

void FaultEnv::failReadsAfter(uint64_t count, ErrorCode code) {
  readsAllowed_ = count;
  readFailure_ = code;
}

void FaultEnv::write(const std::string& name) {
  const uint64_t made = writes_++;
  if (writesAllowed_ && made >= *writesAllowed_) fail(writeFailure_, name + ": injected write failure");
}

void FaultEnv::read(const std::string& name) {
  if (readsOf_ && !readsOf_(name)) return;
  const uint64_t made = reads_++;
  if (readsAllowed_ && made >= *readsAllowed_) fail(readFailure_, name + ": injected read failure");
}

std::unique_ptr<PageSource> FaultEnv::openSource(const std::string& path) {
  if (openFailure_) fail(*openFailure_, path + ": injected failure to open");
  return std::make_unique<FaultSource>(*this, base_.openSource(path));
}

std::unique_ptr<FileLock> FaultEnv::lockSource(const std::string& path) {
  if (lockFailure_) fail(*lockFailure_, path + ": injected lock of another user");
  return base_.lockSource(path);
}

std::unique_ptr<PageSink> FaultEnv::createDestination(const std::string& path) {
  if (createFailure_) fail(*createFailure_, path + ": injected failure to create");
  auto sink = std::make_unique<FaultSink>(*this, base_.createDestination(path));
  created_.push_back(path);
  return sink;
}

std::unique_ptr<PageSink> FaultEnv::createHiddenDestination(const std::string& path) {
  if (createFailure_) fail(*createFailure_, path + ": injected failure to create");
  auto sink = std::make_unique<FaultSink>(*this, base_.createHiddenDestination(path));
  created_.push_back(path);
  return sink;
}

void FaultEnv::publishDestination(const std::string& hidden, const std::string& path, bool keepHiddenName) {
  base_.publishDestination(hidden, path, keepHiddenName);
}

void FaultEnv::removeLeftovers(const std::string& path, const std::string& source) {
  base_.removeLeftovers(path, source);
}

bool FaultEnv::lockedByOthers(const std::string& path, LockProbe kind) {
  return lockEverything_ || base_.lockedByOthers(path, kind);
}

void FaultEnv::flushFolder(const std::string& folder) { base_.flushFolder(folder); }

std::vector<std::string> FaultEnv::findIgnoringCase(const std::string& folder, const std::string& name) {
  return base_.findIgnoringCase(folder, name);
}

}  // namespace jet::os_testing
