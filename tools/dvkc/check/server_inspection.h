// Meeting the server as the library's exchange does (IPv4, TLS 1.2 at least,
// no server name, the trust file the only authority), with one difference:
// the handshake goes on whether or not the chain verifies, so that what the
// server presented can be shown. Every verification error is recorded with
// its depth. Nothing is sent after the handshake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/certificate_facts.h"

namespace dvkc::tool {

struct VerifyError {
    int code = 0;  // X509_V_ERR_*
    int depth = 0;
    std::string words;  // OpenSSL's: "certificate has expired"
};

struct ServerInspection {
    enum class Reached { nothing, address, connection, handshake };
    Reached reached = Reached::nothing;
    std::string address;                      // dotted, once found
    std::string address_how;                  // how it was found
    std::string failure;                      // why the next step failed
    std::string tls_version, cipher;          // after the handshake
    std::vector<CertificateFacts> presented;  // the server's own certificate first
    std::vector<VerifyError> verify_errors;   // in OpenSSL's order: the first fails the exchange
    bool protocol_refused = false;            // no common TLS version
    std::string old_version;                  // a version below 1.2 the server speaks, if any
};

// Needs the trust file to load (see read_trust_file()).
ServerInspection inspect_server(const std::string &host, std::uint16_t port, const std::string &trust_file);

}  // namespace dvkc::tool
