#include "compaction/names.h"

namespace compaction {
namespace {

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

std::u16string temporaryName(std::u16string_view dbname) {
  std::u16string name(dbname);
  if (!name.empty()) name.pop_back();
  name.push_back(u'N');
  return name;
}

bool backupStaysInFolder(std::u16string_view dbname) {
  if (!dbname.empty() && isSeparator(dbname.front())) return false;
  if (dbname.size() >= 2 && dbname[1] == u':') return false;  // C:DATA.MDB, C:\DATA.MDB
  std::size_t start = 0;
  while (start <= dbname.size()) {
    std::size_t end = start;
    while (end < dbname.size() && !isSeparator(dbname[end])) ++end;
    if (dbname.substr(start, end - start) == u"..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace compaction
