#include "platform/command_line.h"

namespace platform {
namespace {

bool blank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

}  // namespace

std::u16string argumentsOfCommandLine(std::u16string_view commandLine) {
  std::size_t position = 0;
  if (!commandLine.empty() && commandLine.front() == u'"') {
    // A quoted name ends at the next double quote; a name left open runs to the end.
    const std::size_t closing = commandLine.find(u'"', 1);
    position = closing == std::u16string_view::npos ? commandLine.size() : closing + 1;
  }
  while (position < commandLine.size() && !blank(commandLine[position])) ++position;
  while (position < commandLine.size() && blank(commandLine[position])) ++position;
  return std::u16string(commandLine.substr(position));
}

}  // namespace platform
