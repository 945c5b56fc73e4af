// The library's own linear congruential generator, one state per thread, so
// that neither the host's rand() nor another thread's sequence is disturbed.
#pragma once

#include <cstdint>

namespace dvkc::prng {

// Sets the calling thread's state.
void seed(std::uint32_t value) noexcept;

// Advances the calling thread's state (state * 214013 + 2531011, mod 2^32)
// and returns bits 16 to 30 of the new state: a value from 0 to 32767.
std::int32_t draw() noexcept;

}  // namespace dvkc::prng
