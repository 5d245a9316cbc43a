// Helpers of the compaction tests: table dumps, file hashes, and a destination that fails on demand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "jet/os/page_sink.h"
#include "tools/jetdb/csv_export.h"
#include "jet/read/database.h"

namespace jet::compact_testing {

// Every user table's rows as CSV (system tables too when asked), in catalog order.
std::string dumpTables(Database& db, bool includeSystem, const CsvStyle& style = {});
std::string dumpTable(Database& db, const std::string& table, const CsvStyle& style = {});
// A digest of the file's bytes, to prove a source was not changed.
std::string fileDigest(const std::filesystem::path& path);
std::string runCommand(const std::string& command);  // its standard output

// Passes writes through until `failAfter` writes have been made, then fails every write with `code`.
class FailingSink : public PageSink {
 public:
  FailingSink(std::unique_ptr<PageSink> inner, uint64_t failAfter, ErrorCode code)
      : inner_(std::move(inner)), left_(failAfter), code_(code) {}
  const std::string& name() const override { return inner_->name(); }
  void write(uint64_t offset, Bytes data) override;
  void finish() override { inner_->finish(); }
  void discard() noexcept override { inner_->discard(); }

 private:
  std::unique_ptr<PageSink> inner_;
  uint64_t left_;
  ErrorCode code_;
};

}  // namespace jet::compact_testing
