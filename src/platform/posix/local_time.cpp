#include "platform/local_time.h"

#include <cstdlib>

namespace dvkc::platform {

void refresh_time_zone_settings() noexcept
{
    // getenv races only with a host changing its environment meanwhile, as
    // tzset itself does; the library never changes it.
    const char *tz = std::getenv("TZ");  // NOLINT(concurrency-mt-unsafe)
    if (tz != nullptr && *tz == '\0') {
        return;  // glibc would read an empty TZ as UTC; keep the previous zone
    }
    tzset();
}

bool to_local_time(std::time_t when, std::tm &out) noexcept
{
    return localtime_r(&when, &out) != nullptr;
}

}  // namespace dvkc::platform
