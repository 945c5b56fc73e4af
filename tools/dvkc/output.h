// Printing a query's results as a table, JSON or CSV, in input order.
#pragma once

#include <ostream>

#include "query.h"

namespace dvkc::tool {

// SN, SSID and Code columns; a record of a failed batch shows "-".
void write_table(std::ostream &out, const QueryReport &report);

// {"records": [{"line", "sn", "ssid", "code" (null when not answered),
// "batch"}], "batches": [{"batch", "first_record", "records", "answered",
// "error": null or {"call", "code", "err_id", "description"}}],
// "exit_status"}. Batches and records are numbered from 1.
void write_json(std::ostream &out, const QueryReport &report);

// "SN,SSID,Code" and one line per record; empty Code when not answered.
void write_csv(std::ostream &out, const QueryReport &report);

// One line per failed batch, on the error stream; with `verbose` also the
// raw answer's status line and first 2 KB when there was an answer.
void write_failures(std::ostream &err, const QueryReport &report, bool verbose);

}  // namespace dvkc::tool
