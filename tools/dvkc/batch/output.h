// Printing a query's results as a table, JSON, JSON lines or CSV, in input
// order, one batch at a time as the batches finish.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "batch/batch_outcome.h"
#include "common/csv.h"

namespace dvkc::tool {

enum class OutputFormat { table, json, jsonl, csv };

// Writes one format. begin(), then batch() for every batch in input order,
// then end(); each writes only what it is given. Memory stays the same
// however many batches there are. Throws std::runtime_error when what it
// keeps for end() cannot be kept.
class RecordWriter {
public:
    RecordWriter() = default;
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;
    virtual ~RecordWriter() = default;
    virtual void begin(std::ostream &out) = 0;
    // The batch numbered `index` (from 0), how it ended and its records.
    virtual void batch(std::ostream &out, std::size_t index, const BatchOutcome &outcome,
                       const std::vector<InputRecord> &records) = 0;
    // `exit_status`: the status the tool ends with.
    virtual void end(std::ostream &out, int exit_status) = 0;
};

// table: SN, SSID and Code columns at least `sn_width` and `ssid_width`
// wide; a record of a failed batch shows "-".
// json: {"records": [{"line", "sn", "ssid", "code" (null when not answered),
// "batch"}], "batches": [{"batch", "first_record", "records", "answered",
// "error": null or {"call", "code", "err_id", "description"}}],
// "exit_status"}. Batches and records are numbered from 1.
// jsonl: one object per record as in "records", and after a failed batch's
// records one object {"batch", "first_record", "records", "error"}.
// csv: "SN,SSID,Code" and one line per record; empty Code when not answered;
// a field with spaces at either end is quoted.
std::unique_ptr<RecordWriter> make_writer(OutputFormat format, std::size_t sn_width = 2, std::size_t ssid_width = 4);

// The line of one failed batch (without its line end); with `verbose` also
// the answer's status line and first 2 KB, when there was an answer, on
// further lines.
std::string failure_text(std::size_t index, std::size_t total, const BatchOutcome &outcome, bool verbose);

}  // namespace dvkc::tool
