// Raw memory operations used across the program.
#pragma once

#include <cstddef>

namespace vexel {

// Copies n bytes; overlapping ranges are moved correctly.
void memCopy(void* destination, const void* source, std::size_t n);
// Sets n bytes to zero.
void memZero(void* block, std::size_t n);
// True when the first n bytes of a and b are equal (always true for n = 0).
bool memEqual(const void* a, const void* b, std::size_t n);

} // namespace vexel
