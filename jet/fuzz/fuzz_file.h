// Databases made around fuzzer input: a valid header page (no encoding key) for the version the first input byte
// picks, followed by pages cut from the rest of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/format/format.h"

namespace jet::fuzzing {

// The format selected by an input's first byte (even: Jet 3, odd: Jet 4).
const Format& formatOf(const uint8_t* data, size_t size);

// A file of `pages` pages after the header; page k (k >= 1) holds input bytes [1 + (k-1)*pageSize, ...), zero-padded.
std::vector<uint8_t> fileFromInput(const Format& format, const uint8_t* data, size_t size, uint32_t pages);

// A mutation of a whole database file for a custom mutator: most rewrite a window of one page in place, so that the
// pages stay where the file's pointers expect them and damage lands inside structures instead of shifting every later
// page. The rest are libFuzzer's own (which also grow, shrink and splice whole inputs).
size_t mutateWithinPages(uint8_t* data, size_t size, size_t maxSize, unsigned int seed);

}  // namespace jet::fuzzing
