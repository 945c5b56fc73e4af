#include "response/read_number.h"

#include <cstdint>

namespace dvkc {

std::int32_t read_number(const char *text) noexcept
{
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Accumulate the magnitude, stopping growth once it passes the limit.
    constexpr std::int64_t kCeiling = std::int64_t{INT32_MAX} + 1;
    std::int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= kCeiling) {
            magnitude = magnitude * 10 + (*p - '0');
        }
    }
    if (negative) {
        return magnitude >= kCeiling ? INT32_MIN : static_cast<std::int32_t>(-magnitude);
    }
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(magnitude);
}

}  // namespace dvkc
