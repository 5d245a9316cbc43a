#pragma once
// The argument string of a Windows process, cut out of the whole command line that the system hands it.

#include <string>
#include <string_view>

namespace platform {

// Everything after the program's own name: the name is the first word of the command line, either quoted with
// double quotes (and then it may hold spaces) or ending at the first space or tab; the spaces and tabs that separate
// it from the arguments are not part of them. Whatever follows is kept as it stands, quotes included.
std::u16string argumentsOfCommandLine(std::u16string_view commandLine);

}  // namespace platform
