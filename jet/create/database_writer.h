// Writes a new Jet 4 database: page 0, the free-page map on page 1, the four system tables (definitions on pages 2-5,
// the catalog rows of every table), the user tables the caller fills through TableWriter, and every table's usage
// maps (rows on pages of their own, owned by no table).
//
// Tables can be dropped the way Jet drops them: their pages keep their bytes but are marked free in page 1's map,
// their catalog and access-rights rows are deleted, and nothing refers to them any more.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/create/header_page_writer.h"
#include "jet/create/page_file.h"
#include "jet/create/table_writer.h"

namespace jet::create {

class DatabaseWriter {
 public:
  // Writes into the destination file `sink` (see Env::createDestination), which is removed again unless finish()
  // completes.
  DatabaseWriter(std::unique_ptr<PageSink> sink, const HeaderSettings& header);

  // A new user table; its definition page (= its Id in the catalog) is handed out now, so that its pages can name it.
  TableWriter& createTable(TableSchema schema);
  // Marks every page of the table free and deletes its catalog rows. The table must have finished its rows.
  void dropTable(TableWriter& table);

  // Records a one-column relationship with referential integrity in MSysRelationships. The two tables' schemas carry
  // the matching foreign keys (see ForeignKeySpec); their rows must keep to it.
  void addRelationship(const std::string& name, const std::string& table, const std::string& column,
                       const std::string& referencedTable, const std::string& referencedColumn);

  PageFile& file() { return file_; }

  // Writes the catalog, the usage maps, the definitions, page 1 and page 0, and flushes the file.
  void finish();

 private:
  struct Entry {
    std::unique_ptr<TableWriter> writer;
    double created = 0;
    bool dropped = false;
  };
  void writeCatalog();

  PageFile file_;
  HeaderSettings header_;
  std::vector<Entry> system_;  // MSysObjects, MSysACEs, MSysQueries, MSysRelationships
  std::vector<Entry> user_;
  struct Relationship {
    std::string name, table, column, referencedTable, referencedColumn;
  };
  std::vector<Relationship> relationships_;
  std::vector<uint32_t> freePages_;
};

}  // namespace jet::create
