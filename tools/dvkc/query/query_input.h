// Everything `dvkc query` checks before it sends anything: the command
// line's values, the records (read once), the files and the signature.
#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "batch/signature.h"
#include "common/input_file.h"
#include "query/query_options.h"
#include "query/record_source.h"

namespace dvkc::tool {

// The port (from --port, else DVKC_PORT, else 443), the host, trust file,
// path and batch size. Returns 0 or the exit status to end with.
int check_command_line(QueryOptions &options, std::ostream &err);

// What a query reads before it sends anything, kept for the whole run.
struct QueryInput {
    std::unique_ptr<RecordSource> records;
    std::optional<InputFile> identity;  // a pipe's copy stands in for it
    std::optional<InputFile> trust;     // (not with --dry-run)
    std::optional<SignatureSource> signer;
};

// The records, the identity and trust files and the signature. An identity
// or trust file given as a pipe is read once, and `options` then names its
// copy. Returns 0 or the exit status to end with.
int read_input(QueryOptions &options, std::istream &in, std::ostream &err, QueryInput &input);

}  // namespace dvkc::tool
