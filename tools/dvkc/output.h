// Printing a query's results as a table, JSON, JSON lines or CSV, in input
// order, one batch at a time as the batches finish.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <vector>

#include "query.h"

namespace dvkc::tool {

// Writes one format. begin(), then batch() for every batch in input order,
// then end(); each writes only what it is given.
class RecordWriter {
public:
    virtual ~RecordWriter() = default;
    virtual void begin(std::ostream &out) = 0;
    // The batch numbered `index` (from 0) and how it ended.
    virtual void batch(std::ostream &out, std::size_t index, const BatchOutcome &outcome,
                       const std::vector<InputRecord> &records) = 0;
    virtual void end(std::ostream &out, int exit_status) = 0;
};

// table: SN, SSID and Code columns sized for `records`; a record of a failed
// batch shows "-".
// json: {"records": [{"line", "sn", "ssid", "code" (null when not answered),
// "batch"}], "batches": [{"batch", "first_record", "records", "answered",
// "error": null or {"call", "code", "err_id", "description"}}],
// "exit_status"}. Batches and records are numbered from 1.
// jsonl: one object per record as in "records", and after a failed batch's
// records one object {"batch", "first_record", "records", "error"}.
// csv: "SN,SSID,Code" and one line per record; empty Code when not answered.
std::unique_ptr<RecordWriter> make_writer(OutputFormat format, const std::vector<InputRecord> &records);

// The whole report in one format.
void write_report(std::ostream &out, OutputFormat format, const QueryReport &report);
void write_table(std::ostream &out, const QueryReport &report);
void write_json(std::ostream &out, const QueryReport &report);
void write_csv(std::ostream &out, const QueryReport &report);

// The line of one failed batch (without its line end); with `verbose` also
// the raw answer's status line and first 2 KB, when there was an answer, on
// further lines.
std::string failure_text(std::size_t index, std::size_t total, const BatchOutcome &outcome, bool verbose);

// One line per failed batch, on the error stream (batches never sent are
// left to the summary).
void write_failures(std::ostream &err, const QueryReport &report, bool verbose);

}  // namespace dvkc::tool
