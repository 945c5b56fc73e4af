// A socket on POSIX: a file descriptor.
#pragma once

namespace dvkc::platform {

using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;

}  // namespace dvkc::platform
