// The header page (page 0): which version of the format a file uses and the database-wide settings kept in its
// masked area.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/format/format.h"

namespace jet {

struct DatabaseHeader {
  const Format* format = nullptr;
  uint16_t sortOrder = 0;   // LCID of the database's collating order
  uint8_t sortVersion = 0;  // Jet 4: 0 = General Legacy, 1 = 2010 General
  uint16_t codePage = 0;
  uint32_t encodingKey = 0;       // 0 = pages are stored in the clear
  bool hasPassword = false;       // the password itself is never kept
  bool workgroupFile = false;     // "Jet System DB": a workgroup information file, not a database of documents
  double creationDate = 0;        // Jet 4 only
  std::vector<uint8_t> unmasked;  // page 0 with its masked area decoded, for tools that copy or inspect it

  Version version() const { return format->version; }
};

// Bytes of page 0 needed to recognise the format (the longer of the two masked areas ends before this).
inline constexpr uint32_t kHeaderProbeSize = 0x18 + 128;

// The page size the version byte of a probe (the file's first bytes) announces, or 0 for none known: a reader fetches
// exactly the header page, and no byte of the page after it, which may not be written yet.
uint32_t announcedPageSize(std::span<const uint8_t> probe);

// Decodes page 0. `fileSize` is the size of the whole file. Throws 3343 when the bytes are not a Jet 3 or Jet 4
// database (an .accdb, a text file, an empty file) and 3049 when they are one but the file is damaged.
DatabaseHeader parseHeader(std::span<const uint8_t> page0, uint64_t fileSize);

// Applies (or removes: the same operation) the fixed mask of page 0.
void unmaskHeader(std::span<uint8_t> page0, const Format& format);

}  // namespace jet
