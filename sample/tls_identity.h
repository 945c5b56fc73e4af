// What a TLS server presents: its certificate chain and the leaf's key.
#pragma once

#include <string>

namespace dvkc::sample {

struct TlsIdentity {
    std::string chain_file{};  // PEM: the leaf first, then every issuer to present
    std::string key_file{};    // PEM: the leaf's private key
};

}  // namespace dvkc::sample
