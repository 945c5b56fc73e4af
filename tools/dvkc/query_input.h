// Everything `dvkc query` checks before it sends anything: the command
// line's values, the records (read once), the files and the signature.
#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "query_options.h"
#include "record_source.h"
#include "signature.h"

namespace dvkc::tool {

// The port from `given` (--port), else DVKC_PORT, else 443: "" or why it
// is no TCP port, naming where it came from.
std::string read_port(const std::string &given, int &port);

// The port (from --port, else DVKC_PORT, else 443), the host, trust file,
// path and batch size. Returns 0 or the exit status to end with.
int check_command_line(QueryOptions &options, std::ostream &err);

// The records, the identity and trust files and the signature; on success
// `records` and `signer` are set. Returns 0 or the exit status to end with.
int read_input(const QueryOptions &options, std::istream &in, std::ostream &err, std::unique_ptr<RecordSource> &records,
               std::optional<SignatureSource> &signer);

}  // namespace dvkc::tool
