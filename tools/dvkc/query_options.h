// What `dvkc query` is told: its command line, as one struct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "dvkc.hpp"

namespace dvkc::tool {

enum class OutputFormat { table, json, jsonl, csv };

struct QueryOptions {
    dvkc::Endpoint endpoint;  // host, path, trust file (the port from `port`)
    std::string port;         // "": DVKC_PORT, else 443
    std::string identity_file;
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
    long timeout = 60;       // seconds each exchange may take; 0: none
    long sign_timeout = 30;  // seconds each sign command may take; 0: none
    unsigned retry = 0;      // further attempts of a batch whose exchange failed
    bool fail_fast = false;  // send no further batch after a failure
    std::string helper;      // the program that runs exchanges ("": in this process)
};

}  // namespace dvkc::tool
