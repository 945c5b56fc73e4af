// The certificates of `dvkc serve` and `dvkc demo`: a root CA, an
// intermediate CA under it and a server certificate for 127.0.0.1 and
// localhost under that. Only what the service and its clients need is
// written: the CAs' keys are thrown away.
#pragma once

#include <filesystem>
#include <string>

#include "tls_identity.h"

namespace dvkc::sample {

struct SamplePki {
    TlsIdentity identity;    // server-chain.pem (server, intermediate) and server.key (mode 0600)
    std::string trust_file;  // trust.pem (root, intermediate): the clients' trust file
    bool reused = false;     // true when the files were there already
};

// Uses the PKI in `dir` when all three files are there, else makes one
// valid from an hour ago for `days` days (creating `dir` when it is missing).
// Never overwrites a file: throws std::runtime_error when only some of the
// files are there, or when a file cannot be created.
SamplePki keep_sample_pki(const std::filesystem::path &dir, int days);

}  // namespace dvkc::sample
