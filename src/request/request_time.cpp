#include "request/request_time.h"

#include "platform/local_time.h"

namespace dvkc {

void refresh_time_zone() noexcept
{
    platform::refresh_time_zone_settings();
}

void format_request_time(std::time_t when, char (&out)[DVKC_REQ_TIME_LENGTH + 1]) noexcept
{
    std::tm local{};
    if (!platform::to_local_time(when, local)) {
        local = std::tm{};  // unrepresentable time: all fields zero
        local.tm_year = -1900;
        local.tm_mon = -1;
    }
    // Clamp so that the text is 14 digits for any clock, even past year 9999.
    int year = local.tm_year + 1900;
    year = year < 0 ? 0 : (year > 9999 ? 9999 : year);
    const int parts[] = {local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
    char *p = out;
    for (int div = 1000; div > 0; div /= 10) {
        *p++ = static_cast<char>('0' + year / div % 10);
    }
    for (const int part : parts) {
        const int v = part < 0 ? 0 : part % 100;
        *p++ = static_cast<char>('0' + v / 10);
        *p++ = static_cast<char>('0' + v % 10);
    }
    *p = '\0';
}

}  // namespace dvkc
