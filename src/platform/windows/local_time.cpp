#include "platform/local_time.h"

#include <time.h>

namespace dvkc::platform {

void refresh_time_zone_settings() noexcept
{
    ::_tzset();  // TZ when set, the system's time zone otherwise
}

bool to_local_time(std::time_t when, std::tm &out) noexcept
{
    return ::localtime_s(&out, &when) == 0;
}

}  // namespace dvkc::platform
