#pragma once
// The names that a compaction run derives from the database's name.

#include <string>
#include <string_view>

namespace compaction {

// The backup folder, as given to the folder creation; the copy goes to this plus the name.
inline constexpr std::u16string_view kBackupFolder = u"VARKOP\\";

// The collating order of the compacted database: Slovenian, code page 1250.
inline constexpr std::u16string_view kSlovenianLocale = u";LANGID=0x0424;CP=1250;COUNTRY=0";

// The name with its last character replaced by N: DATA.MDB -> DATA.MDN; a one-character
// name gives N.
std::u16string temporaryName(std::u16string_view dbname);

// True when kBackupFolder + dbname lies inside the backup folder: the name is not absolute
// (no leading separator, no drive) and has no ".." component. A name that leaves the folder
// would let the backup copy overwrite some other file.
bool backupStaysInFolder(std::u16string_view dbname);

}  // namespace compaction
