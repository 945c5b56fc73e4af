#pragma once

#include <ctime>

namespace dvkc {

// Refreshes the time-zone settings the way the request stamp needs them: from
// TZ when it is set and not empty, from the system when TZ is absent; on
// POSIX an empty TZ keeps whatever settings were in force before.
void refresh_time_zone() noexcept;

// Formats `when` as local time "YYYYMMDDhhmmss" into out[15].
void format_request_time(std::time_t when, char (&out)[15]) noexcept;

}  // namespace dvkc
