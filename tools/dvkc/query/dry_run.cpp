#include "query/dry_run.h"

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>

#include "batch/batches.h"
#include "batch/one_batch.h"
#include "cli/exit_status.h"

namespace dvkc::tool {
namespace {

std::string dry_run_text(std::size_t b, std::size_t total, BatchRange range, std::string_view document,
                         std::string_view envelope, OutputFormat format)
{
    using json = nlohmann::ordered_json;
    if (format == OutputFormat::json || format == OutputFormat::jsonl) {
        const json entry = {{"batch", b + 1},
                            {"first_record", range.first + 1},
                            {"records", range.count},
                            {"document", document},
                            {"envelope", envelope}};
        const std::string text = entry.dump(-1, ' ', false, json::error_handler_t::replace);
        if (format == OutputFormat::jsonl) {
            return text + "\n";
        }
        return (b == 0 ? "[\n  " : ",\n  ") + text + (b + 1 == total ? "\n]\n" : "");
    }
    std::ostringstream out;
    out << "# batch " << b + 1 << " of " << total << ": records " << range.first + 1 << " to "
        << range.first + range.count << "\n# document (" << document.size() << " bytes)\n"
        << document << "\n# envelope (" << envelope.size() << " bytes)\n"
        << envelope << "\n";
    return out.str();
}

// The text of batch `b`; throws dvkc::Error or SignatureError.
std::string batch_text(const QueryOptions &options, const SignatureSource &signer, RecordSource &records,
                       const BatchPlan &plan, std::size_t b, int cancel_fd)
{
    dvkc::Query query;
    for (const InputRecord &record : records.next(plan[b].count)) {
        query.add(record.sn, record.ssid);
    }
    const std::int32_t seed = usable_seed(
        static_cast<std::int32_t>(static_cast<std::uint32_t>(options.seed) + static_cast<std::uint32_t>(b)));
    const dvkc::Buffer document = query.build(seed, options.batch.identity_file);
    const std::string signature = signer.sign(document.view(), cancel_fd);
    const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), signature);
    return dry_run_text(b, plan.size(), plan[b], document.view(), envelope.view(), options.output);
}

}  // namespace

int dry_run(const QueryOptions &options, const SignatureSource &signer, RecordSource &records, OutputTarget &target,
            std::ostream &err, const StopSignals &signals)
{
    const BatchPlan plan(records.size(), options.batch_size);
    int status = exit_ok;
    for (std::size_t b = 0; b < plan.size() && status == exit_ok; ++b) {
        try {
            if (!target.write(batch_text(options, signer, records, plan, b, signals.stop_fd()))) {
                status = exit_internal;
            }
        } catch (const std::exception &e) {  // dvkc::Error, SignatureError
            err << "dvkc: batch " << b + 1 << ": " << e.what() << "\n";
            status = exit_failed;
        }
    }
    if (status == exit_ok && !target.commit()) {
        status = exit_internal;
    }
    if (status == exit_internal) {
        err << "dvkc: cannot write " << target.name() << ": " << target.error() << "\n";
    }
    if (signals.stopped()) {
        err << "dvkc: interrupted\n";
        return 128 + signals.signal();
    }
    return status;
}

}  // namespace dvkc::tool
