// The pause between retried socket shutdowns and closes.
#pragma once

namespace dvkc::platform {

// Sleeps 5 ms (the whole 5 ms, even when a signal interrupts the sleep).
void pause_5ms() noexcept;

}  // namespace dvkc::platform
