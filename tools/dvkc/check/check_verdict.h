// The verdict of `dvkc check`: the result the library's exchange gives for
// this server and this trust file, and what would fix it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check/server_probe.h"
#include "check/trust_file_facts.h"

namespace dvkc::tool {

// The exit status of a check that ran out of time (the others are the tool's).
inline constexpr int exit_check_timed_out = 6;

// An issuer certificate the server presented (depth 1 on) and the first
// trust file entry (from 1) carrying its key, if any.
struct IssuerKey {
    std::size_t depth = 0;
    std::optional<std::size_t> trust_entry;
};

// The library's key rule over every presented certificate after the server's own.
std::vector<IssuerKey> issuer_keys(const std::vector<CertificateFacts> &presented,
                                   const std::vector<CertificateFacts> &trusted);

struct Verdict {
    std::int32_t result = 0;         // 0, -6, -8, -9, -12, -13 or -17; meaningless when timed out
    std::vector<std::string> fixes;  // what would fix it, in plain words
    bool timed_out = false;          // no result: connecting or the handshake took longer than the limit
};

// The server is only looked at when the trust file loads (`seen` is then
// set); `timeout_seconds` is the limit it was looked at with.
Verdict judge(const std::string &host, std::uint16_t port, const TrustFileFacts &trust,
              const std::optional<ServerProbe> &seen, long timeout_seconds);

// 0 for result 0, 3 for a trust file that does not load, 6 for a check that
// ran out of time, 4 for any other failure.
int verdict_exit_status(const Verdict &verdict);

}  // namespace dvkc::tool
