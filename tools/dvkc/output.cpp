#include "output.h"

#include <algorithm>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace dvkc::tool {
namespace {

using json = nlohmann::ordered_json;

constexpr std::size_t answer_shown = 2048;

// Calls fn(record, code) for every record of the batch in input order; `code`
// is empty when the batch was not answered.
template <typename Fn>
void for_each_record(const BatchOutcome &batch, const std::vector<InputRecord> &records, Fn fn)
{
    for (std::size_t k = 0; k < batch.range.count; ++k) {
        const InputRecord &record = records.at(batch.range.first + k);
        std::optional<std::int32_t> code;
        if (batch.answered() && k < batch.codes.size()) {
            code = batch.codes[k];
        }
        fn(record, code);
    }
}

std::string printable(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        shown += (byte < 0x20 && c != '\n' && c != '\r' && c != '\t') || byte == 0x7f ? '.' : c;
    }
    return shown;
}

// Invalid UTF-8 in a text is replaced rather than thrown on.
std::string dump(const json &value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

json record_json(const InputRecord &record, std::size_t index, std::optional<std::int32_t> code)
{
    return {{"line", record.line},
            {"sn", record.sn},
            {"ssid", record.ssid},
            {"code", code ? json(*code) : json(nullptr)},
            {"batch", index + 1}};
}

json error_json(const BatchOutcome &batch)
{
    if (batch.error) {
        const dvkc::Error &e = *batch.error;
        return {{"call", std::string(dvkc::call_name(e.call()))},
                {"code", e.code()},
                {"err_id", e.call() == dvkc::Call::parse && e.code() == DVKC_PARSE_SERVICE_ERROR ? json(e.err_id())
                                                                                                 : json(nullptr)},
                {"description", std::string(e.words())}};
    }
    if (!batch.sign_error.empty()) {
        return {{"call", "signature"}, {"code", nullptr}, {"err_id", nullptr}, {"description", batch.sign_error}};
    }
    if (!batch.exchange_error.empty()) {
        return {{"call", std::string(dvkc::call_name(dvkc::Call::exchange))},
                {"code", nullptr},
                {"err_id", nullptr},
                {"description", batch.exchange_error}};
    }
    if (!batch.not_sent.empty()) {
        return {{"call", nullptr}, {"code", nullptr}, {"err_id", nullptr}, {"description", batch.not_sent}};
    }
    return nullptr;
}

json batch_json(std::size_t index, const BatchOutcome &batch)
{
    return {{"batch", index + 1},
            {"first_record", batch.range.first + 1},
            {"records", batch.range.count},
            {"answered", batch.answered()},
            {"error", error_json(batch)}};
}

class TableWriter : public RecordWriter {
public:
    explicit TableWriter(const std::vector<InputRecord> &records)
    {
        for (const InputRecord &record : records) {
            sn_width_ = std::max(sn_width_, record.sn.size());
            ssid_width_ = std::max(ssid_width_, record.ssid.size());
        }
    }
    void begin(std::ostream &out) override
    {
        out << std::left << std::setw(static_cast<int>(sn_width_)) << "SN"
            << "  " << std::setw(static_cast<int>(ssid_width_)) << "SSID"
            << "  Code\n";
    }
    void batch(std::ostream &out, std::size_t, const BatchOutcome &outcome,
               const std::vector<InputRecord> &records) override
    {
        for_each_record(outcome, records, [&](const InputRecord &record, std::optional<std::int32_t> code) {
            out << std::left << std::setw(static_cast<int>(sn_width_)) << record.sn << "  "
                << std::setw(static_cast<int>(ssid_width_)) << record.ssid << "  "
                << (code ? std::to_string(*code) : std::string("-")) << "\n";
        });
    }
    void end(std::ostream &, int) override {}

private:
    std::size_t sn_width_ = 2;
    std::size_t ssid_width_ = 4;
};

class CsvWriter : public RecordWriter {
public:
    void begin(std::ostream &out) override { out << "SN,SSID,Code\n"; }
    void batch(std::ostream &out, std::size_t, const BatchOutcome &outcome,
               const std::vector<InputRecord> &records) override
    {
        for_each_record(outcome, records, [&](const InputRecord &record, std::optional<std::int32_t> code) {
            // The reader admits no comma, quote or control character, so no field needs quotes.
            out << record.sn << ',' << record.ssid << ',' << (code ? std::to_string(*code) : std::string()) << "\n";
        });
    }
    void end(std::ostream &, int) override {}
};

// The document is written as it goes: the records, then the batches (one
// small entry each, kept until the end), then the exit status.
class JsonWriter : public RecordWriter {
public:
    void begin(std::ostream &out) override { out << "{\n  \"records\": ["; }
    void batch(std::ostream &out, std::size_t index, const BatchOutcome &outcome,
               const std::vector<InputRecord> &records) override
    {
        for_each_record(outcome, records, [&](const InputRecord &record, std::optional<std::int32_t> code) {
            out << (first_ ? "\n    " : ",\n    ") << dump(record_json(record, index, code));
            first_ = false;
        });
        batches_.push_back(dump(batch_json(index, outcome)));
    }
    void end(std::ostream &out, int exit_status) override
    {
        out << (first_ ? "],\n" : "\n  ],\n") << "  \"batches\": [";
        for (std::size_t b = 0; b < batches_.size(); ++b) {
            out << (b == 0 ? "\n    " : ",\n    ") << batches_[b];
        }
        out << (batches_.empty() ? "],\n" : "\n  ],\n") << "  \"exit_status\": " << exit_status << "\n}\n";
    }

private:
    bool first_ = true;
    std::vector<std::string> batches_;
};

class JsonLinesWriter : public RecordWriter {
public:
    void begin(std::ostream &) override {}
    void batch(std::ostream &out, std::size_t index, const BatchOutcome &outcome,
               const std::vector<InputRecord> &records) override
    {
        for_each_record(outcome, records, [&](const InputRecord &record, std::optional<std::int32_t> code) {
            out << dump(record_json(record, index, code)) << "\n";
        });
        if (!outcome.answered()) {
            out << dump({{"batch", index + 1},
                         {"first_record", outcome.range.first + 1},
                         {"records", outcome.range.count},
                         {"error", error_json(outcome)}})
                << "\n";
        }
    }
    void end(std::ostream &, int) override {}
};

}  // namespace

std::unique_ptr<RecordWriter> make_writer(OutputFormat format, const std::vector<InputRecord> &records)
{
    switch (format) {
    case OutputFormat::json:
        return std::make_unique<JsonWriter>();
    case OutputFormat::jsonl:
        return std::make_unique<JsonLinesWriter>();
    case OutputFormat::csv:
        return std::make_unique<CsvWriter>();
    case OutputFormat::table:
        break;
    }
    return std::make_unique<TableWriter>(records);
}

void write_report(std::ostream &out, OutputFormat format, const QueryReport &report)
{
    const std::unique_ptr<RecordWriter> writer = make_writer(format, report.records);
    writer->begin(out);
    for (std::size_t b = 0; b < report.batches.size(); ++b) {
        writer->batch(out, b, report.batches[b], report.records);
    }
    writer->end(out, report_status(report));
}

void write_table(std::ostream &out, const QueryReport &report)
{
    write_report(out, OutputFormat::table, report);
}

void write_json(std::ostream &out, const QueryReport &report)
{
    write_report(out, OutputFormat::json, report);
}

void write_csv(std::ostream &out, const QueryReport &report)
{
    write_report(out, OutputFormat::csv, report);
}

std::string failure_text(std::size_t index, std::size_t total, const BatchOutcome &batch, bool verbose)
{
    std::string text = "dvkc: batch " + std::to_string(index + 1) + " of " + std::to_string(total) + " (records " +
                       std::to_string(batch.range.first + 1) + " to " +
                       std::to_string(batch.range.first + batch.range.count) + ") failed: " + batch.failure();
    if (batch.attempts > 1) {
        text += " (after " + std::to_string(batch.attempts) + " attempts)";
    }
    if (verbose && batch.error && batch.error->call() == Call::exchange &&
        (batch.error->code() == DVKC_EXCHANGE_HANDSHAKE || batch.error->code() == DVKC_EXCHANGE_CHAIN_KEY)) {
        text += "\ndvkc:   `dvkc check` with the same --host, --port and --trust tells why the server is not trusted";
    }
    if (verbose && !batch.answer.empty()) {
        const std::string_view answer = batch.answer;
        const std::size_t line_end = answer.find_first_of("\r\n");
        text += "\ndvkc:   status line: " + printable(answer.substr(0, line_end));
        if (const std::size_t nul = answer.find('\0'); nul != std::string_view::npos) {
            text += "\ndvkc:   the answer holds a NUL byte at offset " + std::to_string(nul) +
                    "; the parser saw only the text before it";
        }
        text += "\ndvkc:   answer (" + std::to_string(answer.size()) + " bytes, first " +
                std::to_string(std::min(answer.size(), answer_shown)) + " shown):\n" +
                printable(answer.substr(0, answer_shown));
    }
    return text;
}

void write_failures(std::ostream &err, const QueryReport &report, bool verbose)
{
    for (std::size_t b = 0; b < report.batches.size(); ++b) {
        const BatchOutcome &batch = report.batches[b];
        if (!batch.answered() && batch.not_sent.empty()) {
            err << failure_text(b, report.batches.size(), batch, verbose) << "\n";
        }
    }
}

}  // namespace dvkc::tool
