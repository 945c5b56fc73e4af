#pragma once

#include <cstdio>

namespace dvkc {

// The identity file's first 10240 bytes are digested; the rest is ignored.
inline constexpr std::size_t kIdentityReadLimit = 10240;

// Reads at most kIdentityReadLimit bytes of `file` (fewer only at its end or
// on a read error) and writes their SHA-1 as 40 uppercase hex digits and a
// NUL into out[41]. Returns false only if the digest cannot be computed
// (e.g. no provider offers SHA-1).
bool identity_client_id(std::FILE *file, char (&out)[41]) noexcept;

}  // namespace dvkc
