#include "jet/read/database.h"

#include "jet/os/env.h"

namespace jet {

std::unique_ptr<Database> Database::open(const std::string& path, size_t cachePages) {
  return std::make_unique<Database>(Env::system().openSource(path), cachePages);
}

Database::Database(std::unique_ptr<PageSource> source, size_t cachePages) {
  std::string sourceName = source->name();
  try {
    pages_ = std::make_unique<PageReader>(std::move(source), cachePages);
  } catch (const Error& e) {
    std::string msg = e.what();
    if (msg.rfind(sourceName, 0) != 0) msg = sourceName + ": " + msg;
    throw Error(e.code(), msg);
  }
  catalog_ = withFileName([&] { return readCatalog(*pages_); });
}

void Database::rethrowNamed(const Error& e) const {
  std::string msg = e.what();
  if (msg.rfind(name(), 0) == 0) throw e;
  if (e.code() == ErrorCode::Corrupt) msg = "the database is corrupt: " + msg;
  throw Error(e.code(), name() + ": " + msg);
}

TableDef Database::tableDef(const std::string& tableName) {
  const CatalogEntry* e = catalog_.findTable(tableName);
  if (e == nullptr) fail(ErrorCode::TableNotFound, name() + ": there is no table named " + tableName);
  return tableDefAt(e->tablePage());
}

TableDef Database::tableDefAt(uint32_t page) {
  return withFileName([&] { return readTableDef(*pages_, page); });
}

UsageMap Database::globalFreeMap() {
  return withFileName([&] { return readUsageMap(*pages_, RowPointer{1, 0}); });
}

}  // namespace jet
