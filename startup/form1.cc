#include "startup/form1.h"

#include "platform/text.h"
#include "startup/nextfield.h"

namespace startup {

void Form1::Form_Load() {
  std::u16string arguments = platform::trimSpaces(runtime_.commandLine());
  std::u16string dbname = nextfield(arguments);
  if (dbname.empty()) return;
  platform::FileSystem& files = runtime_.fileSystem();
  files.changeCurrentFolder(files.executableFolder());
  reindex(dbname);
}

void Form1::reindex(std::u16string& dbname) { outcome_ = compaction::reindex(runtime_, dbname); }

}  // namespace startup
