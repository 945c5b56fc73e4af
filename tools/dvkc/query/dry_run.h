// `dvkc query --dry-run`: the documents and envelopes, nothing sent.
#pragma once

#include <ostream>

#include "batch/signature.h"
#include "common/stop_signals.h"
#include "query/output_target.h"
#include "query/query_options.h"
#include "query/record_source.h"

namespace dvkc::tool {

// Builds, signs and wraps every batch and writes them to `target` (as text,
// or as JSON objects for json and jsonl). Returns the exit status.
int dry_run(const QueryOptions &options, const SignatureSource &signer, RecordSource &records, OutputTarget &target,
            std::ostream &err, const StopSignals &signals);

}  // namespace dvkc::tool
