// A seam for tests: the functions the sockets layer starts and releases
// itself with, so that a test can make WSAStartup refuse or grant another
// version and count the releases. The library itself never replaces them,
// and nothing of this is exported from the DLL.
#pragma once

#include <winsock2.h>

namespace dvkc::platform {

struct SocketsLayerCalls {
    int(WSAAPI *startup)(WORD requested, LPWSADATA data);
    int(WSAAPI *cleanup)();
};

// Installs `calls` (not thread-safe: only while no exchange runs) and
// returns the ones in force before.
SocketsLayerCalls replace_sockets_layer_calls(SocketsLayerCalls calls) noexcept;

}  // namespace dvkc::platform
