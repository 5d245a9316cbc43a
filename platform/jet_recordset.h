#pragma once
// A table's rows as a recordset, read with the project's own Jet engine.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/recordset.h"

namespace platform {

// Opens the database `file` read-only and `table` in it as a recordset on its first row, its
// record count known before the first move (the live rows are counted on opening). Rows come in
// the order readers see them; fields are found by name without regard to case and read as text.
// Fails with the engine's numbers: 3024 (no file), 3051 (cannot open), 3343 (not a database),
// 3049 (damaged), 3078 (no such table); a damaged row met later fails its move with 3049.
std::shared_ptr<Recordset> openTableRecordset(const std::filesystem::path& file, const std::u16string& table);

}  // namespace platform
