#pragma once

#include <cstdint>
#include <ctime>

#include "dvkc.h"

namespace dvkc {

// The nonce generator's seed: now * (modifier % 1000 + 1) in 32-bit
// wrap-around arithmetic. The remainder keeps the modifier's sign, so -1
// gives 0 and 999 gives the factor 1000.
std::uint32_t nonce_seed(std::time_t now, std::int32_t modifier) noexcept;

// Seeds the calling thread's generator with `seed` and draws 15 characters
// from 0-9, A-Z, a-z into out, NUL-terminated.
void make_nonce(std::uint32_t seed, char (&out)[DVKC_NONCE_LENGTH + 1]) noexcept;

}  // namespace dvkc
