#include "jet/format/page_info.h"

#include "jet/format/data_page.h"

namespace jet {

PageInfo describePage(PageReader& pages, uint32_t n) {
  const Format& f = pages.format();
  PageHandle handle = pages.page(n);
  Bytes p(*handle);
  PageInfo info;
  info.page = n;
  info.type = p[0];
  switch (static_cast<PageType>(p[0])) {
    case PageType::Data:
      info.owner = dataPageOwner(f, p);
      info.freeSpace = u16(p, f.dataFreeSpaceOffset);
      info.rowCount = dataPageRowCount(f, p);
      break;
    case PageType::IndexNode:
    case PageType::IndexLeaf: info.owner = u32(p, 4); break;
    case PageType::TableDef: info.nextPage = u32(p, f.tdefNextPageOffset); break;
    default: break;
  }
  return info;
}

}  // namespace jet
