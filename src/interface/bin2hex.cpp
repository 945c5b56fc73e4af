#include "dvkc.h"

extern "C" int32_t bin2hex(const unsigned char *bytes, int32_t count, char *out) noexcept
{
    static constexpr char digits[] = "0123456789ABCDEF";
    if (out == nullptr) {
        return 0;
    }
    if (count < 0 || bytes == nullptr) {
        count = 0;
    }
    for (int32_t i = 0; i < count; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    out[2 * static_cast<int64_t>(count)] = '\0';
    return 0;
}
