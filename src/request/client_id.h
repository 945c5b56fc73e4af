#pragma once

#include <cstdio>

#include "dvkc.h"

namespace dvkc {

// The identity file's first DVKC_IDENTITY_READ_MAX bytes are digested; the rest is ignored.
inline constexpr std::size_t kIdentityReadLimit = DVKC_IDENTITY_READ_MAX;

// Reads at most kIdentityReadLimit bytes of `file` (fewer only at its end or
// on a read error; a read a signal interrupts is resumed) and writes their SHA-1 as 40 uppercase hex digits and a
// NUL into out. Returns false only if the digest cannot be computed
// (e.g. no provider offers SHA-1).
bool identity_client_id(std::FILE *file, char (&out)[DVKC_CLIENT_ID_LENGTH + 1]) noexcept;

}  // namespace dvkc
