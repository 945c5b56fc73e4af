// Small guards for the C boundary: early returns on bad arguments, and the
// rule that no exception ever leaves an exported function.
#pragma once

#include <cstdint>

// Returns `result` from the enclosing function when `pointer` is null.
#define DVKC_REQUIRE_NONNULL(pointer, result) \
    do {                                      \
        if ((pointer) == nullptr) {           \
            return (result);                  \
        }                                     \
    } while (0)

namespace dvkc {

// Runs `body` and returns its status; any exception becomes `on_exception`.
// The library's own code throws nothing, but std:: facilities may (bad_alloc).
template <typename Body>
std::int32_t call_at_boundary(std::int32_t on_exception, Body &&body) noexcept
{
    try {
        return body();
    } catch (...) {
        return on_exception;
    }
}

}  // namespace dvkc
