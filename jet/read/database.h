// An open database, read-only: its header, pages, catalog and tables. Every error it throws names the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "jet/read/catalog.h"
#include "jet/errors.h"
#include "jet/pager/page_reader.h"
#include "jet/os/page_source.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"

namespace jet {

class Database {
 public:
  // Opens the file read-only and reads its header and catalog. Throws 3024, 3051, 3040, 3343 or 3049.
  static std::unique_ptr<Database> open(const std::string& path, size_t cachePages = 256);
  explicit Database(std::unique_ptr<PageSource> source, size_t cachePages = 256);

  const std::string& name() const { return pages_->name(); }
  PageReader& pages() { return *pages_; }
  const DatabaseHeader& header() const { return pages_->header(); }
  const Format& format() const { return pages_->format(); }
  const Catalog& catalog() const { return catalog_; }

  // The definition of a local table by name (3078 when there is none) or by its TDEF page.
  TableDef tableDef(const std::string& tableName);
  TableDef tableDefAt(uint32_t page);
  // The global map on page 1 (row 0), where a set bit marks a free page.
  UsageMap globalFreeMap();

  // Runs f, adding the file's name to any engine error that does not carry it yet.
  template <class F>
  auto withFileName(F&& f) -> decltype(f()) {
    try {
      return f();
    } catch (const Error& e) {
      rethrowNamed(e);
    }
  }

 private:
  [[noreturn]] void rethrowNamed(const Error& e) const;

  std::unique_ptr<PageReader> pages_;
  Catalog catalog_;
};

}  // namespace jet
