// Small guards for the C boundary: early returns on bad arguments.
#pragma once

// Returns `result` from the enclosing function when `pointer` is null.
#define DVKC_REQUIRE_NONNULL(pointer, result)                                                                          \
    do {                                                                                                               \
        if ((pointer) == nullptr) {                                                                                    \
            return (result);                                                                                           \
        }                                                                                                              \
    } while (0)
