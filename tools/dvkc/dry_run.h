// `dvkc query --dry-run`: the documents and envelopes, nothing sent.
#pragma once

#include <ostream>

#include "output_target.h"
#include "query_options.h"
#include "record_source.h"
#include "signature.h"
#include "stop_signals.h"

namespace dvkc::tool {

// Builds, signs and wraps every batch and writes them to `target` (as text,
// or as JSON objects for json and jsonl). Returns the exit status.
int dry_run(const QueryOptions &options, const SignatureSource &signer, RecordSource &records, OutputTarget &target,
            std::ostream &err, const StopSignals &signals);

}  // namespace dvkc::tool
