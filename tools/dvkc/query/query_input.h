// Everything `dvkc query` checks before it sends anything: the command
// line's values, the records (read once), the files and the signature.
#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "batch/signature.h"
#include "query/query_options.h"
#include "query/record_source.h"

namespace dvkc::tool {

// The port (from --port, else DVKC_PORT, else 443), the host, trust file,
// path and batch size. Returns 0 or the exit status to end with.
int check_command_line(QueryOptions &options, std::ostream &err);

// The records, the identity and trust files and the signature; on success
// `records` and `signer` are set. Returns 0 or the exit status to end with.
int read_input(const QueryOptions &options, std::istream &in, std::ostream &err, std::unique_ptr<RecordSource> &records,
               std::optional<SignatureSource> &signer);

}  // namespace dvkc::tool
