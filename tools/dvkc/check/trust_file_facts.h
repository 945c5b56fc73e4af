// The trust file as the library's exchange takes it: loaded whole by
// OpenSSL's own CA-file reader before any connection (a file it refuses
// fails the exchange with -6), its certificates the only authority.
#pragma once

#include <string>
#include <vector>

#include "check/certificate_facts.h"

namespace dvkc::tool {

struct TrustFileFacts {
    bool loaded = false;
    std::string refusal;                         // why it does not load, when it does not
    std::vector<CertificateFacts> certificates;  // in file order (other entries left out)
};

// `shown` names it in the refusal (default: `path`), as when `path` is its copy.
TrustFileFacts read_trust_file(const std::string &path, const std::string &shown = {});

}  // namespace dvkc::tool
