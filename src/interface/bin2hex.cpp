#include <cstddef>

#include "dvkc.h"

extern "C" int32_t bin2hex(const unsigned char *bytes, int32_t count, char *out) noexcept
{
    static constexpr char digits[] = "0123456789ABCDEF";
    if (out == nullptr) {
        return 0;
    }
    // Indexed in size_t: 2 * count reaches 2^32 - 2, beyond any 32-bit int.
    const std::size_t n = count > 0 && bytes != nullptr ? static_cast<std::size_t>(count) : 0;
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    out[2 * n] = '\0';
    return 0;
}
