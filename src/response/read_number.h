#pragma once

#include <cstdint>

namespace dvkc {

// Reads a number as atoi does (leading white space, an optional sign, then
// decimal digits up to the first other character; 0 when there are none),
// but saturates at the 32-bit limits instead of wrapping.
std::int32_t read_number(const char *text) noexcept;

}  // namespace dvkc
