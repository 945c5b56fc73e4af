// `dvkc serve`.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace dvkc::tool {

struct ServeOptions {
    std::string listen = "127.0.0.1:8443";  // dotted IPv4 address and port (0: any free port)
    std::string cert, key, chain;           // the service's own certificate, key and issuers
    std::string pki_dir;                    // else: a throwaway PKI made here (kept)
    std::string codes_file;                 // CSV SN,Code
    std::optional<std::int32_t> error;      // answer every query with this ErrID
    int max_tls_version = 0;                // highest TLS version offered (0: OpenSSL's default)
};

// Parses "ADDRESS:PORT"; false when it is not a dotted IPv4 address and a
// port from 0 to 65535.
bool parse_listen(const std::string &text, std::string &address, std::uint16_t &port);

// Serves until SIGINT or SIGTERM; returns the exit status. Prints where it
// listens and where the clients' trust file is on `out`, then one log line
// per request.
int run_serve(const ServeOptions &options, std::ostream &out, std::ostream &err);

}  // namespace dvkc::tool
