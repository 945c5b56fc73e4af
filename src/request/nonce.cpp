#include "request/nonce.h"

#include "interface/prng.h"

namespace dvkc {

std::uint32_t nonce_seed(std::time_t now, std::int32_t modifier) noexcept
{
    const auto factor = static_cast<std::uint32_t>(modifier % 1000 + 1);
    return static_cast<std::uint32_t>(now) * factor;
}

void make_nonce(std::uint32_t seed, char (&out)[DVKC_NONCE_LENGTH + 1]) noexcept
{
    static constexpr char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static_assert(sizeof alphabet - 1 == 62);
    prng::seed(seed);
    for (int i = 0; i < DVKC_NONCE_LENGTH; ++i) {
        out[i] = alphabet[prng::draw() % 62];
    }
    out[DVKC_NONCE_LENGTH] = '\0';
}

}  // namespace dvkc
