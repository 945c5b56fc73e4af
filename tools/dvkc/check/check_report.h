// Printing what `dvkc check` found: as text for people, as one JSON object
// for scripts.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "check/check_verdict.h"

namespace dvkc::tool {

struct CheckReport {
    std::string host;
    std::uint16_t port = 0;
    std::string trust_path;
    TrustFileFacts trust;
    std::optional<ServerProbe> seen;  // when the trust file loaded
    Verdict verdict;
};

// `text` with every byte that does not belong to a UTF-8 sequence written
// as the four characters \xHH (lowercase hex), so that JSON can carry it.
std::string utf8_or_escaped(const std::string &text);

void write_check_text(std::ostream &out, const CheckReport &report);
void write_check_json(std::ostream &out, const CheckReport &report);

}  // namespace dvkc::tool
