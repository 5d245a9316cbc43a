#include "startup/nextfield.h"

#include <cstdint>
#include <limits>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace startup {
namespace {

// The position is a 16-bit counter, as in the list reader's original environment; the
// overflow is part of its behaviour on long lists, not an accident of this code.
void advance(std::int16_t& position) {
  if (position == std::numeric_limits<std::int16_t>::max()) {
    throw platform::RuntimeError(platform::error::kOverflow);
  }
  ++position;
}

}  // namespace

std::u16string nextfield(std::u16string& list) {
  std::u16string field;
  std::int16_t position = 1;
  bool outsideQuotes = true;
  char16_t current = 0;
  const std::size_t length = list.size();

  while (static_cast<std::size_t>(position) <= length) {
    current = list[static_cast<std::size_t>(position) - 1];
    if ((current == u',' || current == u';') && outsideQuotes) break;
    if (current == u'"' || current == u'\'') {
      outsideQuotes = !outsideQuotes;
    } else {
      field.push_back(current == u'\x01' ? u'"' : current);
    }
    advance(position);
  }

  if (current != u';' && static_cast<std::size_t>(position) < length) {
    list = platform::leftTrimSpaces(std::u16string_view(list).substr(static_cast<std::size_t>(position)));
  } else {
    list.clear();
  }
  return field;
}

}  // namespace startup
