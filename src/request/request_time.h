#pragma once

#include <ctime>

#include "dvkc.h"

namespace dvkc {

// Refreshes the time-zone settings the way the request stamp needs them: from
// TZ when it is set and not empty, from the system when TZ is absent; on
// POSIX an empty TZ keeps whatever settings were in force before.
void refresh_time_zone() noexcept;

// Formats `when` as local time "YYYYMMDDhhmmss" into out.
void format_request_time(std::time_t when, char (&out)[DVKC_REQ_TIME_LENGTH + 1]) noexcept;

}  // namespace dvkc
