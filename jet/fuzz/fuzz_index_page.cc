// Fuzzes the index page decoder and the entry splitters on single pages. An entry list that decodes must encode
// again (when its prefix allows) and decode to the same entries.
#include <cstdlib>

#include "jet/errors.h"
#include "jet/fuzz/fuzz_file.h"
#include "jet/format/index_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const jet::Format& f = jet::fuzzing::formatOf(data, size);
  std::vector<uint8_t> page(f.pageSize, 0);
  if (size > 1) std::copy(data + 1, data + std::min<size_t>(size, 1 + f.pageSize), page.begin());
  jet::IndexPage decoded;
  try {
    decoded = jet::decodeIndexPage(f, page, 7);
    for (const jet::IndexEntry& e : decoded.entries) {
      if (decoded.leaf) {
        jet::splitLeafEntry(e);
      } else {
        jet::splitNodeEntry(e);
      }
    }
  } catch (const jet::Error& e) {
    if (e.number() != 3049) std::abort();
    return 0;
  }
  std::vector<uint8_t> again;
  try {
    again = jet::encodeIndexPage(f, decoded);
  } catch (const jet::Error& e) {
    if (e.number() != 3001) std::abort();  // entries this page's prefix cannot describe: refused, not mangled
    return 0;
  }
  jet::IndexPage twice = jet::decodeIndexPage(f, again, 7);
  if (twice.entries != decoded.entries || twice.leaf != decoded.leaf || twice.tailPage != decoded.tailPage)
    std::abort();
  return 0;
}
