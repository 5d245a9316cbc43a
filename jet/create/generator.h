// Generates a Jet 4 database of an article and stock application, deterministic for a seed: the system tables,
// "Artikli" (articles: warehouse `skl`, article code `ident`, a Slovene name, price, date, quantity, flag and one
// column of every other common type, with a primary key, a unique index on `ident`, an index on `skl` and a
// composite (skl, ident) index) and "Gibanja" (stock movements of those articles, with amounts, Memo notes in every
// long-value storage form and OLE attachments, indexed by Id and by article), related by an enforced relationship
// (every movement names an existing article).
//
// With bloat, that share of the rows is deleted as an application would delete them, and work tables are filled and
// dropped, so that a compaction has that much to take away.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "jet/os/env.h"

namespace jet::create {

struct GeneratorOptions {
  uint64_t articles = 1000;  // rows of Artikli; Gibanja gets three times as many
  uint64_t seed = 1;
  uint32_t bloatPercent = 0;  // 0-90
  // Rows of Dnevnik, a log of narrow rows (an Id, a time and an event code, about 200 to a page) with a primary key:
  // a table whose row count is large for its size. None by default (the table is not made).
  uint64_t logRows = 0;
  // The door to the operating system the file is written through (tests hand in one that fails on demand);
  // Env::system() when null.
  Env* env = nullptr;
};

struct GeneratorSummary {
  uint64_t articles = 0;  // live rows
  uint64_t movements = 0;
  uint64_t logRows = 0;
  uint64_t deletedRows = 0;
  uint64_t droppedTableRows = 0;
  uint32_t pages = 0;
};

// Writes the database to `path`, which must not exist. Throws jet::Error (3204 when it exists, 3044 when its folder
// does not, 3051 when it cannot be created, 3026/3043 when writing fails, 3001 for options out of range); the file is
// removed again on failure.
GeneratorSummary generateDatabase(const std::string& path, const GeneratorOptions& options);

}  // namespace jet::create
