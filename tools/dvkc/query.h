// `dvkc query`: reads the records, runs one query per batch and reports.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "batches.h"
#include "csv.h"
#include "dvkc.hpp"
#include "signature.h"

namespace dvkc::tool {

enum class OutputFormat { table, json, jsonl, csv };

struct QueryOptions {
    dvkc::Endpoint endpoint;  // host, port, path, trust file
    std::string identity_file;
    std::string records_file = "-";  // "-" reads the given input stream
    enum class SignatureKind { text, file, command } signature_kind = SignatureKind::text;
    std::string signature;  // the text, the file's path or the command
    std::int32_t seed = 0;  // batch k (from 0) uses seed + k
    OutputFormat output = OutputFormat::table;
    std::string output_file = "-";  // "-": the given output stream
    bool dry_run = false;
    bool verbose = false;
    std::size_t batch_size = 1000;
    std::size_t jobs = 1;
    bool progress = false;                  // draw a progress bar on the error stream
    bool quiet = false;                     // neither the bar nor the summary
    std::chrono::seconds timeout{60};       // each exchange; 0: none
    std::chrono::seconds sign_timeout{30};  // each sign command; 0: none
    unsigned retry = 0;                     // further attempts of a batch whose exchange failed
    bool fail_fast = false;                 // send no further batch after a failure
    std::string helper;                     // the program that runs exchanges ("": in this process)
};

// How one batch ended.
struct BatchOutcome {
    BatchRange range;
    std::optional<dvkc::Error> error;  // the library call that failed
    std::string sign_error;            // or why no signature could be had
    std::string exchange_error;        // or why the exchange did not end ("timed out after 60 s")
    std::string not_sent;              // or why it was not sent, or stopped ("interrupted")
    std::vector<std::int32_t> codes;   // one per record when answered
    std::string answer;                // the raw answer when parsing failed
    unsigned attempts = 1;             // exchanges tried
    std::string service;               // "host:port" when the exchange failed

    bool answered() const noexcept
    {
        return !error && sign_error.empty() && exchange_error.empty() && not_sent.empty();
    }
    // "iSSL_SendThenRecv -12: the TLS handshake failed (...)"
    std::string failure() const;
    // What the summary counts it as: the result ("-9"), "ErrID 7", "timeout",
    // "signature", "helper"; empty when answered or not sent.
    std::string failure_kind() const;
};

// Counts batches as they end, for the summary and the exit status.
struct Tally {
    std::size_t total = 0;
    std::size_t answered = 0;
    std::size_t failed = 0;
    std::size_t not_sent = 0;
    std::map<std::string, std::size_t> kinds;  // failure_kind() -> batches

    void add(const BatchOutcome &outcome);
    // 0 when every batch was answered, 4 when none, else 5.
    int status() const noexcept;
    // "1000 batches: 998 answered, 2 failed (-9 x2)"
    std::string summary() const;
};

struct QueryReport {
    std::vector<InputRecord> records;
    std::vector<BatchOutcome> batches;
};

// What a batch's run may be stopped by.
struct BatchControl {
    int cancel_fd = -1;                // readable: stop now
    std::int32_t retry_seed_step = 0;  // added to the seed for each retry
};

// Runs one batch: build, sign, wrap, send, parse, retrying a failed exchange
// as the options say. Never throws for a failure of the library or the
// signature; those end up in the outcome.
BatchOutcome run_batch(const QueryOptions &options, const SignatureSource &signer,
                       const std::vector<InputRecord> &records, BatchRange range, std::int32_t seed,
                       const BatchControl &control = {});

// The exit status for a finished report (0, 4 or 5).
int report_status(const QueryReport &report);

// The whole subcommand: returns the exit status. `in` is read for "-".
int run_query(const QueryOptions &options, std::istream &in, std::ostream &out, std::ostream &err);

}  // namespace dvkc::tool
