// A socket on Windows: a SOCKET (UINT_PTR), INVALID_SOCKET when there is none.
// Spelled without <winsock2.h> so that the headers using it stay light.
#pragma once

#include <cstdint>

namespace dvkc::platform {

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};

}  // namespace dvkc::platform
