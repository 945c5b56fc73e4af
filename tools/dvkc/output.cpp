#include "output.h"

#include <algorithm>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace dvkc::tool {
namespace {

constexpr std::size_t answer_shown = 2048;

// Calls fn(record, batch, code) for every record in input order; `code` is
// empty when the record's batch was not answered.
template <typename Fn>
void for_each_record(const QueryReport &report, Fn fn)
{
    for (std::size_t b = 0; b < report.batches.size(); ++b) {
        const BatchOutcome &batch = report.batches[b];
        for (std::size_t k = 0; k < batch.range.count; ++k) {
            const InputRecord &record = report.records.at(batch.range.first + k);
            std::optional<std::int32_t> code;
            if (batch.answered() && k < batch.codes.size()) {
                code = batch.codes[k];
            }
            fn(record, b, code);
        }
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

}  // namespace

void write_table(std::ostream &out, const QueryReport &report)
{
    std::size_t sn_width = 2;
    std::size_t ssid_width = 4;
    for (const InputRecord &record : report.records) {
        sn_width = std::max(sn_width, record.sn.size());
        ssid_width = std::max(ssid_width, record.ssid.size());
    }
    out << std::left << std::setw(static_cast<int>(sn_width)) << "SN" << "  " << std::setw(static_cast<int>(ssid_width))
        << "SSID" << "  Code\n";
    for_each_record(report, [&](const InputRecord &record, std::size_t, std::optional<std::int32_t> code) {
        out << std::setw(static_cast<int>(sn_width)) << record.sn << "  " << std::setw(static_cast<int>(ssid_width))
            << record.ssid << "  " << (code ? std::to_string(*code) : std::string("-")) << "\n";
    });
}

void write_json(std::ostream &out, const QueryReport &report)
{
    using json = nlohmann::ordered_json;
    json records = json::array();
    for_each_record(report, [&](const InputRecord &record, std::size_t batch, std::optional<std::int32_t> code) {
        records.push_back({{"line", record.line},
                           {"sn", record.sn},
                           {"ssid", record.ssid},
                           {"code", code ? json(*code) : json(nullptr)},
                           {"batch", batch + 1}});
    });
    json batches = json::array();
    for (std::size_t b = 0; b < report.batches.size(); ++b) {
        const BatchOutcome &batch = report.batches[b];
        json error = nullptr;
        if (batch.error) {
            const dvkc::Error &e = *batch.error;
            error = {{"call", std::string(dvkc::call_name(e.call()))},
                     {"code", e.code()},
                     {"err_id", e.call() == dvkc::Call::parse && e.code() == DVKC_PARSE_SERVICE_ERROR ? json(e.err_id()) : json(nullptr)},
                     {"description", std::string(e.words())}};
        } else if (!batch.sign_error.empty()) {
            error = {{"call", "signature"}, {"code", nullptr}, {"err_id", nullptr}, {"description", batch.sign_error}};
        }
        batches.push_back({{"batch", b + 1},
                           {"first_record", batch.range.first + 1},
                           {"records", batch.range.count},
                           {"answered", batch.answered()},
                           {"error", error}});
    }
    const json document = {{"records", records}, {"batches", batches}, {"exit_status", report_status(report)}};
    // Invalid UTF-8 in a record's text is replaced rather than thrown on.
    out << document.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

void write_csv(std::ostream &out, const QueryReport &report)
{
    out << "SN,SSID,Code\n";
    for_each_record(report, [&](const InputRecord &record, std::size_t, std::optional<std::int32_t> code) {
        // The reader admits no comma, quote or control character, so no field needs quotes.
        out << record.sn << ',' << record.ssid << ',' << (code ? std::to_string(*code) : std::string()) << "\n";
    });
}

void write_failures(std::ostream &err, const QueryReport &report, bool verbose)
{
    for (std::size_t b = 0; b < report.batches.size(); ++b) {
        const BatchOutcome &batch = report.batches[b];
        if (batch.answered()) {
            continue;
        }
        err << "dvkc: batch " << b + 1 << " of " << report.batches.size() << " (records " << batch.range.first + 1
            << " to " << batch.range.first + batch.range.count << ") failed: " << batch.failure() << "\n";
        if (verbose && !batch.answer.empty()) {
            const std::string_view answer = batch.answer;
            const std::size_t line_end = answer.find_first_of("\r\n");
            err << "dvkc:   status line: " << printable(answer.substr(0, line_end)) << "\n"
                << "dvkc:   answer (" << answer.size() << " bytes, first " << std::min(answer.size(), answer_shown)
                << " shown):\n"
                << printable(answer.substr(0, answer_shown)) << "\n";
        }
    }
}

}  // namespace dvkc::tool
