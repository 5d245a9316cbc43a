#include "jet/create/header_page_writer.h"

#include <cmath>
#include <cstring>

#include "jet/format/put_bytes.h"
#include "jet/format/format.h"
#include "jet/pager/header.h"

namespace jet::create {

std::vector<uint8_t> buildJet4HeaderPage(const HeaderSettings& s) {
  const Format& f = kJet4Format;
  std::vector<uint8_t> page(f.pageSize, 0);
  page[1] = 0x01;
  static const char kEngine[] = "Standard Jet DB";
  std::memcpy(&page[4], kEngine, sizeof kEngine);
  putLe32(&page[0x14], 1);
  // The constant run at the start of the masked area.
  page[0x19] = 0x01;
  page[0x1C] = 0x01;
  page[0x1D] = 0x01;
  for (uint32_t k = 2; k <= 5; ++k) putLe32(&page[0x18 + 4 * k], k);
  putLe16(&page[f.codePageOffset], s.codePage);
  putLe32(&page[f.encodingKeyOffset], 0);
  const auto days = static_cast<uint32_t>(static_cast<int64_t>(std::floor(s.creationDate)));
  uint8_t mask[4];
  putLe32(mask, days);
  for (uint32_t k = 0; k < f.passwordLength; ++k) page[f.passwordOffset + k] = mask[k % 4];
  putLe16(&page[f.sortOrderOffset], s.sortOrder);
  page[f.sortVersionOffset] = s.sortVersion;
  putDouble(&page[f.creationDateOffset], s.creationDate);
  putLe32(&page[0x98], 1620);
  std::memcpy(&page[0x9C], "4.0", 4);
  unmaskHeader(page, f);
  return page;
}

}  // namespace jet::create
