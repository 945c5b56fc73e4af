#include "batch/output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>

#include "common/temporary_file.h"

namespace dvkc::tool {
namespace {

using json = nlohmann::ordered_json;

constexpr std::size_t answer_shown = 2048;

// Calls fn(record, code) for every record of the batch in input order; `code`
// is empty when the batch was not answered.
template <typename Fn>
void for_each_record(const BatchOutcome &batch, const std::vector<InputRecord> &records, Fn fn)
{
    for (std::size_t k = 0; k < records.size(); ++k) {
        fn(records[k], batch.code(k));
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

json error_json(const dvkc::Error &e)
{
    const bool service = e.call() == dvkc::Call::parse && e.code() == DVKC_PARSE_SERVICE_ERROR;
    return {{"call", std::string(dvkc::call_name(e.call()))},
            {"code", e.code()},
            {"err_id", service ? json(e.err_id()) : json(nullptr)},
            {"description", std::string(e.words())}};
}

json error_json(json call, const std::string &description)
{
    return {{"call", std::move(call)}, {"code", nullptr}, {"err_id", nullptr}, {"description", description}};
}

json error_json(const BatchOutcome &batch)
{
    const json exchange = std::string(dvkc::call_name(dvkc::Call::exchange));
    return std::visit(
        Overloaded{
            [](const Answered &) { return json(nullptr); },
            [](const NotSent &r) { return r.error ? error_json(*r.error) : error_json(nullptr, r.why); },
            [](const ServiceError &r) { return error_json(r.error); },
            [](const RefusedAnswer &r) { return error_json(r.error); },
            [&](const BrokenExchange &r) { return r.error ? error_json(*r.error) : error_json(exchange, r.why); },
            [&](const TimedOut &r) {
                return error_json(exchange, "timed out after " + std::to_string(r.after.count()) + " s");
            },
            [](const SignatureFailure &r) { return error_json("signature", r.why); },
        },
        batch.result);
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
    TableWriter(std::size_t sn_width, std::size_t ssid_width)
        : sn_width_(std::max<std::size_t>(sn_width, 2)), ssid_width_(std::max<std::size_t>(ssid_width, 4))
    {
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
    std::size_t sn_width_;
    std::size_t ssid_width_;
};

class CsvWriter : public RecordWriter {
    // The reader admits no comma, quote or control character, and drops
    // spaces around an unquoted field: only those need quotes to read back.
    static std::string field(const std::string &text)
    {
        const bool padded = !text.empty() && (is_space(text.front()) || is_space(text.back()));
        return padded ? '"' + text + '"' : text;
    }
    static bool is_space(char c) { return c == ' ' || c == '\t'; }

public:
    void begin(std::ostream &out) override { out << "SN,SSID,Code\n"; }
    void batch(std::ostream &out, std::size_t, const BatchOutcome &outcome,
               const std::vector<InputRecord> &records) override
    {
        for_each_record(outcome, records, [&](const InputRecord &record, std::optional<std::int32_t> code) {
            out << field(record.sn) << ',' << field(record.ssid) << ','
                << (code ? std::to_string(*code) : std::string()) << "\n";
        });
    }
    void end(std::ostream &, int) override {}
};

// The document is written as it goes: the records, then the batches, then
// the exit status. The batches' entries wait in an unnamed file of our own
// (made at the first batch), so that memory stays the same however many
// batches there are.
class JsonWriter : public RecordWriter {
public:
    JsonWriter() = default;
    JsonWriter(const JsonWriter &) = delete;
    JsonWriter &operator=(const JsonWriter &) = delete;
    ~JsonWriter() override
    {
        if (spool_ >= 0) {
            ::close(spool_);
        }
    }
    void begin(std::ostream &out) override { out << "{\n  \"records\": ["; }
    void batch(std::ostream &out, std::size_t index, const BatchOutcome &outcome,
               const std::vector<InputRecord> &records) override
    {
        for_each_record(outcome, records, [&](const InputRecord &record, std::optional<std::int32_t> code) {
            out << (first_ ? "\n    " : ",\n    ") << dump(record_json(record, index, code));
            first_ = false;
        });
        pending_ += (batches_ == 0 ? "\n    " : ",\n    ") + dump(batch_json(index, outcome));
        ++batches_;
        if (pending_.size() >= block_size) {
            keep();
        }
    }
    void end(std::ostream &out, int exit_status) override
    {
        out << (first_ ? "],\n" : "\n  ],\n") << "  \"batches\": [";
        std::string block(block_size, '\0');
        for (off_t at = 0; spool_ >= 0;) {
            const ssize_t n = ::pread(spool_, block.data(), block.size(), at);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                throw std::runtime_error("cannot read the list of batches kept in " + temporary_directory() + ": " +
                                         std::generic_category().message(errno));
            }
            if (n == 0) {
                break;
            }
            out.write(block.data(), n);
            at += n;
        }
        out << pending_ << (batches_ == 0 ? "],\n" : "\n  ],\n") << "  \"exit_status\": " << exit_status << "\n}\n";
    }

private:
    static constexpr std::size_t block_size = 1 << 16;

    // Moves the entries waiting in memory to the file.
    void keep()
    {
        if (spool_ < 0 && (spool_ = unnamed_temporary_file()) < 0) {
            throw std::runtime_error("cannot keep the list of batches in " + temporary_directory() + ": " +
                                     std::generic_category().message(errno));
        }
        std::string_view left = pending_;
        while (!left.empty()) {
            const ssize_t n = ::write(spool_, left.data(), left.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                throw std::runtime_error("cannot keep the list of batches in " + temporary_directory() + ": " +
                                         (n < 0 ? std::generic_category().message(errno) : "write failed"));
            }
            left.remove_prefix(static_cast<std::size_t>(n));
        }
        pending_.clear();
    }

    bool first_ = true;
    std::size_t batches_ = 0;
    std::string pending_;  // entries not yet in the file
    int spool_ = -1;
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

std::unique_ptr<RecordWriter> make_writer(OutputFormat format, std::size_t sn_width, std::size_t ssid_width)
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
    return std::make_unique<TableWriter>(sn_width, ssid_width);
}

std::string failure_text(std::size_t index, std::size_t total, const BatchOutcome &batch, bool verbose)
{
    std::string text = "dvkc: batch " + std::to_string(index + 1) + " of " + std::to_string(total) + " (records " +
                       std::to_string(batch.range.first + 1) + " to " +
                       std::to_string(batch.range.first + batch.range.count) + ") failed: " + batch.failure();
    if (batch.attempts > 1) {
        text += " (after " + std::to_string(batch.attempts) + " attempts)";
    }
    if (const auto *broken = std::get_if<BrokenExchange>(&batch.result);
        verbose && broken != nullptr && broken->error && broken->error->call() == Call::exchange &&
        (broken->error->code() == DVKC_EXCHANGE_HANDSHAKE || broken->error->code() == DVKC_EXCHANGE_CHAIN_KEY)) {
        text += "\ndvkc:   `dvkc check` with the same --host, --port and --trust tells why the server is not trusted";
    }
    const std::string *raw = batch.answer();
    if (verbose && raw != nullptr) {
        const std::string_view answer = *raw;
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

}  // namespace dvkc::tool
