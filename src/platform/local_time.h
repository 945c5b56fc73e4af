// Local time as the C runtime computes it.
#pragma once

#include <ctime>

namespace dvkc::platform {

// Re-reads the time-zone settings: from TZ when it is set, from the system
// otherwise (thread-safe as far as the C runtime makes it).
void refresh_time_zone_settings() noexcept;

// Converts `when` to local time in `out` (thread-safe); false when the
// time cannot be represented.
bool to_local_time(std::time_t when, std::tm &out) noexcept;

}  // namespace dvkc::platform
