#include "interface/prng.h"

namespace dvkc::prng {
namespace {
// One state per thread is the generator's design; nothing else shares it.
thread_local std::uint32_t state = 1;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
}  // namespace

void seed(std::uint32_t value) noexcept
{
    state = value;
}

std::int32_t draw() noexcept
{
    state = state * 214013U + 2531011U;
    return static_cast<std::int32_t>((state >> 16) & 0x7FFFU);
}

}  // namespace dvkc::prng
