// The few calls the tests make that differ between POSIX and Windows; each
// platform's implementation lives in its own folder and CMake picks one.
#pragma once

#include <cstddef>
#include <ctime>

namespace dvkc::test {

// Sets the environment variable `name` to `value`, or removes it when
// `value` is null.
void set_environment(const char *name, const char *value);

// Whether an environment variable can hold the empty text (POSIX); on
// Windows setting it empty removes it.
bool environment_keeps_empty_values();

// `when` as UTC; false when it cannot be represented.
bool utc_time(std::time_t when, std::tm &out);

// Whole pages of readable and writable memory, the last of them made
// inaccessible (a guard page); throws std::runtime_error on failure.
std::size_t page_size();
char *map_pages_with_guard(std::size_t total);
void unmap_pages(char *base, std::size_t total) noexcept;

}  // namespace dvkc::test
