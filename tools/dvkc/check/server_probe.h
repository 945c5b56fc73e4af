// Meeting the server as the library's exchange does (IPv4, TLS 1.2 at least,
// no server name, the trust file the only authority), with one difference:
// the handshake goes on whether or not the chain verifies, so that what the
// server presented can be shown. Every verification error is recorded with
// its depth. Nothing is sent after the handshake.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "check/certificate_facts.h"

namespace dvkc::tool {

struct VerifyError {
    int code = 0;  // X509_V_ERR_*
    int depth = 0;
    std::string words;             // OpenSSL's: "certificate has expired"
    CertificateFacts certificate;  // the one it concerns, from the chain OpenSSL built
    bool from_trust_file = false;  // that certificate came from the trust file, not from the server
};

struct ServerProbe {
    enum class Reached { nothing, address, connection, handshake };
    Reached reached = Reached::nothing;
    std::string address;                      // dotted, once found
    std::string address_how;                  // how it was found
    bool address_not_dotted = false;          // the host is no dotted IPv4 text, yet taken as one
    std::string failure;                      // why the next step failed
    std::string tls_version, cipher;          // after the handshake
    std::vector<CertificateFacts> presented;  // the server's own certificate first
    std::vector<VerifyError> verify_errors;   // in OpenSSL's order: the first fails the exchange
    bool protocol_refused = false;            // no common TLS version
    std::string old_version;                  // a version below 1.2 the server speaks, if any
    bool timed_out = false;                   // the step after `reached` took longer than the limit
};

// Needs the trust file to load (see read_trust_file()). Connecting and the
// handshake together may take `limit` (zero: no limit), as may the second
// handshake that looks for an old TLS version.
ServerProbe inspect_server(const std::string &host, std::uint16_t port, const std::string &trust_file,
                           std::chrono::milliseconds limit);

}  // namespace dvkc::tool
