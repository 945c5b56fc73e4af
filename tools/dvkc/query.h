// `dvkc query`: reads the records, runs one query per batch and reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "batches.h"
#include "csv.h"
#include "dvkc.hpp"
#include "signature.h"

namespace dvkc::tool {

enum class OutputFormat { table, json, csv };

struct QueryOptions {
    dvkc::Endpoint endpoint;           // host, port, path, trust file
    std::string identity_file;
    std::string records_file = "-";    // "-" reads the given input stream
    enum class SignatureKind { text, file, command } signature_kind = SignatureKind::text;
    std::string signature;             // the text, the file's path or the command
    std::int32_t seed = 0;             // batch k (from 0) uses seed + k
    OutputFormat output = OutputFormat::table;
    bool dry_run = false;
    bool verbose = false;
    std::size_t batch_size = 1000;
    std::size_t jobs = 1;
    bool progress = false;             // draw a progress bar on the error stream
};

// How one batch ended.
struct BatchOutcome {
    BatchRange range;
    std::optional<dvkc::Error> error;  // the library call that failed
    std::string sign_error;            // or why no signature could be had
    std::vector<std::int32_t> codes;   // one per record when answered
    std::string answer;                // the raw answer when parsing failed

    bool answered() const noexcept { return !error && sign_error.empty(); }
    // "iSSL_SendThenRecv -12: the TLS handshake failed (...)"
    std::string failure() const;
};

struct QueryReport {
    std::vector<InputRecord> records;
    std::vector<BatchOutcome> batches;
};

// Runs one batch: build, sign, wrap, send, parse. Never throws for a failure
// of the library or the signature; those end up in the outcome.
BatchOutcome run_batch(const QueryOptions &options, const SignatureSource &signer,
                       const std::vector<InputRecord> &records, BatchRange range, std::int32_t seed);

// The exit status for a finished report (0, 4 or 5).
int report_status(const QueryReport &report);

// The whole subcommand: returns the exit status. `in` is read for "-".
int run_query(const QueryOptions &options, std::istream &in, std::ostream &out, std::ostream &err);

}  // namespace dvkc::tool
