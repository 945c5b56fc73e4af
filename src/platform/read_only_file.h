// Opening a file the library reads, in binary mode (no newline translation)
// and never inherited by child processes the host starts.
#pragma once

#include <cstdio>

namespace dvkc::platform {

// The file at `path` opened for reading, or null.
std::FILE *open_for_reading(const char *path) noexcept;

}  // namespace dvkc::platform
