// What `dvkc query` is told: its command line, as one struct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "batch/batch_settings.h"
#include "batch/output.h"

namespace dvkc::tool {

struct QueryOptions {
    BatchSettings batch;             // endpoint (the port from `port`), identity, timeout, retry, helper
    std::string port;                // "": DVKC_PORT, else 443
    std::string records_file = "-";  // "-" reads standard input
    enum class SignatureKind { text, file, command } signature_kind = SignatureKind::text;
    std::string signature;  // the text, the file's path or the command
    std::int32_t seed = 0;  // batch k (from 0) uses seed + k
    bool seed_given = false;
    OutputFormat output = OutputFormat::table;
    std::string output_file = "-";  // "-": standard output
    bool dry_run = false;
    bool verbose = false;
    std::size_t batch_size = 1000;
    std::size_t jobs = 1;
    bool progress = false;   // draw a progress bar on the error stream
    bool quiet = false;      // neither the bar nor the summary
    long sign_timeout = 30;  // seconds each sign command may take; 0: none
    bool fail_fast = false;  // send no further batch after a failure
};

}  // namespace dvkc::tool
