#pragma once
// Reading fields from a list separated by commas or semicolons.

#include <string>

namespace startup {

// Takes the first field out of `list` and returns it without its quote characters. Fields may
// be quoted with double or single quotes (one shared state: either character opens or closes)
// so that they can hold separators; the character with code 1 stands for a double quote.
// Afterwards `list` holds what follows a comma, without leading spaces; a semicolon ends the
// whole list. The position is counted in 16 bits: a list of 32767 or more characters without
// an unquoted separator by then fails with the overflow error and is left unchanged.
std::u16string nextfield(std::u16string& list);

}  // namespace startup
