#include "query.h"

#include <poll.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <fstream>
#include <cstring>
#include <system_error>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "exchange_helper.h"
#include "exit_status.h"
#include "input_checks.h"
#include "output.h"
#include "output_target.h"
#include "progress.h"
#include "stop_signals.h"

namespace dvkc::tool {
namespace {

constexpr std::size_t max_errors_shown = 20;
constexpr std::chrono::seconds first_back_off{1};
constexpr std::chrono::seconds longest_back_off{30};

SignatureSource make_signer(const QueryOptions &options)
{
    switch (options.signature_kind) {
    case QueryOptions::SignatureKind::file:
        return SignatureSource::from_file(options.signature);
    case QueryOptions::SignatureKind::command:
        return SignatureSource::from_command(options.signature, options.sign_timeout);
    case QueryOptions::SignatureKind::text:
        break;
    }
    return SignatureSource::from_text(options.signature);
}

// The library's query for one batch of the records.
dvkc::Query batch_query(const std::vector<InputRecord> &records, BatchRange range)
{
    dvkc::Query query;
    for (std::size_t i = range.first; i < range.first + range.count; ++i) {
        query.add(records.at(i).sn, records.at(i).ssid);
    }
    return query;
}

std::int32_t batch_seed(std::int32_t seed, std::size_t batch)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(seed) + static_cast<std::uint32_t>(batch));
}

bool readable_now(int fd)
{
    if (fd < 0) {
        return false;
    }
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0;
}

// Waits `pause`, or less when `cancel_fd` becomes readable; false then.
bool pause_unless_cancelled(std::chrono::milliseconds pause, int cancel_fd)
{
    pollfd watched{cancel_fd, POLLIN, 0};
    return ::poll(&watched, cancel_fd >= 0 ? 1 : 0, static_cast<int>(pause.count())) <= 0;
}

std::string seconds_text(std::chrono::seconds limit)
{
    return std::to_string(limit.count()) + " s";
}

// One attempt: build, sign, wrap, send, parse. True when it may be retried
// (the exchange failed).
bool attempt_batch(const QueryOptions &options, const SignatureSource &signer, dvkc::Query &query, std::int32_t seed,
                   int cancel_fd, BatchOutcome &outcome)
{
    outcome.error.reset();
    outcome.sign_error.clear();
    outcome.exchange_error.clear();
    outcome.answer.clear();
    std::string answer;
    try {
        const dvkc::Buffer document = query.build(seed, options.identity_file);
        const std::string signature = signer.sign(document.view(), cancel_fd);
        const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), signature);
        const RunLimits limits{options.timeout, cancel_fd};
        outcome.service = options.endpoint.host + ":" + std::to_string(options.endpoint.port);
        ExchangeOutcome exchanged = exchange_in_helper(options.helper, options.endpoint, envelope.view(), limits);
        switch (exchanged.kind) {
        case ExchangeOutcome::Kind::answered:
            break;
        case ExchangeOutcome::Kind::failed:
            outcome.error = dvkc::Error(dvkc::Call::exchange, exchanged.code);
            return true;
        case ExchangeOutcome::Kind::timed_out:
            outcome.exchange_error = "timed out after " + seconds_text(options.timeout);
            return true;
        case ExchangeOutcome::Kind::cancelled:
            outcome.not_sent = "interrupted";
            return false;
        case ExchangeOutcome::Kind::broken:
            outcome.exchange_error = exchanged.why;
            return true;
        }
        answer = std::move(exchanged.answer);
        query.parse(answer);
    } catch (const dvkc::Error &e) {
        outcome.error = e;
        if (e.call() == dvkc::Call::parse) {
            outcome.answer = std::move(answer);
        }
        return false;
    } catch (const SignatureError &e) {
        if (readable_now(cancel_fd)) {
            outcome.not_sent = "interrupted";
        } else {
            outcome.sign_error = e.what();
        }
        return false;
    }
    return false;
}

// Runs `batches` on the worker threads and hands each finished batch to
// `print` in input order. At most `window` batches are started beyond the
// last one printed, so memory stays bounded whatever order they end in.
class BatchRunner {
public:
    BatchRunner(const QueryOptions &options, const SignatureSource &signer, const std::vector<InputRecord> &records,
                const std::vector<BatchRange> &batches, int cancel_fd)
        : options_(options), signer_(signer), records_(records), batches_(batches), cancel_fd_(cancel_fd),
          window_(std::max<std::size_t>(options.jobs, 1) * 2)
    {
    }

    // print(index, outcome) is called in input order, one call at a time;
    // false from it stops the run (e.g. the output cannot be written).
    // finished(tally) after each batch, from the worker that ran it.
    template <typename Print, typename Finished>
    void run(Print print, Finished finished)
    {
        run_parallel(std::min(options_.jobs, batches_.size()), options_.jobs, [&](std::size_t) {
            while (true) {
                std::size_t b = 0;
                {
                    std::unique_lock lock(mutex_);
                    room_.wait(lock, [&] {
                        return stop_ || next_start_ >= batches_.size() || next_start_ < next_print_ + window_;
                    });
                    if (stop_ || next_start_ >= batches_.size() || readable_now(cancel_fd_)) {
                        stop_ = true;
                        room_.notify_all();
                        return;
                    }
                    b = next_start_++;
                }
                const BatchControl control{cancel_fd_, static_cast<std::int32_t>(batches_.size())};
                BatchOutcome outcome =
                    run_batch(options_, signer_, records_, batches_[b], batch_seed(options_.seed, b), control);
                std::unique_lock lock(mutex_);
                tally_.add(outcome);
                if (!outcome.answered() && options_.fail_fast) {
                    stop_ = true;
                    stop_reason_ = "not sent (--fail-fast after an earlier failure)";
                }
                finished(tally_);
                done_.emplace(b, std::move(outcome));
                while (!done_.empty() && done_.begin()->first == next_print_) {
                    if (!print(next_print_, done_.begin()->second)) {
                        stop_ = true;
                    }
                    done_.erase(done_.begin());
                    ++next_print_;
                }
                room_.notify_all();
            }
        });
        // What never ran: in order, after whatever ran and is still waiting.
        for (std::size_t b = next_print_; b < batches_.size(); ++b) {
            const auto found = done_.find(b);
            BatchOutcome outcome;
            if (found != done_.end()) {
                outcome = std::move(found->second);
            } else {
                outcome.range = batches_[b];
                outcome.attempts = 0;
                outcome.not_sent = readable_now(cancel_fd_) ? "interrupted" : stop_reason_;
                tally_.add(outcome);
            }
            print(b, outcome);
        }
        done_.clear();
        next_print_ = batches_.size();
    }

    const Tally &tally() const noexcept { return tally_; }

private:
    const QueryOptions &options_;
    const SignatureSource &signer_;
    const std::vector<InputRecord> &records_;
    const std::vector<BatchRange> &batches_;
    int cancel_fd_;
    std::size_t window_;

    std::mutex mutex_;
    std::condition_variable room_;
    std::size_t next_start_ = 0;
    std::size_t next_print_ = 0;
    bool stop_ = false;
    std::string stop_reason_ = "not sent";
    std::map<std::size_t, BatchOutcome> done_;
    Tally tally_;
};

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

int dry_run(const QueryOptions &options, const SignatureSource &signer, const std::vector<InputRecord> &records,
            const std::vector<BatchRange> &batches, OutputTarget &target, std::ostream &err, int cancel_fd)
{
    for (std::size_t b = 0; b < batches.size(); ++b) {
        const BatchRange range = batches[b];
        dvkc::Query query = batch_query(records, range);
        try {
            const dvkc::Buffer document = query.build(batch_seed(options.seed, b), options.identity_file);
            const std::string signature = signer.sign(document.view(), cancel_fd);
            const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), signature);
            if (!target.write(
                    dry_run_text(b, batches.size(), range, document.view(), envelope.view(), options.output))) {
                err << "dvkc: cannot write " << target.name() << ": " << target.error() << "\n";
                return exit_internal;
            }
        } catch (const dvkc::Error &e) {
            err << "dvkc: batch " << b + 1 << ": " << e.what() << "\n";
            return exit_failed;
        } catch (const SignatureError &e) {
            err << "dvkc: batch " << b + 1 << ": " << e.what() << "\n";
            return exit_failed;
        }
    }
    if (!target.commit()) {
        err << "dvkc: cannot write " << target.name() << ": " << target.error() << "\n";
        return exit_internal;
    }
    return exit_ok;
}

// Reads and checks everything a query needs before anything is sent.
// Returns 0 or the exit status to end with.
int read_input(const QueryOptions &options, std::istream &in, std::ostream &err, RecordsFile &input)
{
    if (options.records_file == "-") {
        input = read_records(in);
    } else {
        if (std::string why = file_problem(options.records_file, "records file"); !why.empty()) {
            err << "dvkc: " << why << "\n";
            return exit_input;
        }
        std::ifstream file(options.records_file, std::ios::binary);
        input = read_records(file);
    }
    const std::string source = options.records_file == "-" ? "standard input" : options.records_file;
    if (!input.errors.empty()) {
        for (std::size_t i = 0; i < input.errors.size() && i < max_errors_shown; ++i) {
            err << "dvkc: " << source << ": " << format_line_error(input.errors[i]) << "\n";
        }
        if (input.errors.size() > max_errors_shown) {
            err << "dvkc: ... and " << input.errors.size() - max_errors_shown << " more rejected lines\n";
        }
        err << "dvkc: " << input.errors.size() << " line(s) rejected; nothing was sent\n";
        return exit_input;
    }
    if (input.records.empty()) {
        err << "dvkc: " << source << " holds no records; nothing was sent\n";
        return exit_input;
    }
    if (std::string why = file_problem(options.identity_file, "identity file"); !why.empty()) {
        err << "dvkc: " << why << "\n";
        return exit_input;
    }
    if (file_size(options.identity_file) == 0 && !options.quiet) {
        err << "dvkc: warning: the identity file " << options.identity_file
            << " is empty; the ClientID will be the SHA-1 of nothing\n";
    }
    if (!options.dry_run) {
        if (std::string why = trust_file_problem(options.endpoint.trust_file); !why.empty()) {
            err << "dvkc: " << why << "\n";
            return exit_input;
        }
    }
    if (options.signature_kind == QueryOptions::SignatureKind::text && options.signature.empty()) {
        err << "dvkc: the signature is empty\n";
        return exit_input;
    }
    return exit_ok;
}

}  // namespace

std::string BatchOutcome::failure() const
{
    const std::string at = service.empty() ? std::string() : " (service " + service + ")";
    if (error) {
        return error->what() + (error->call() == dvkc::Call::exchange ? at : std::string());
    }
    if (!sign_error.empty()) {
        return sign_error;
    }
    if (!exchange_error.empty()) {
        return std::string(dvkc::call_name(dvkc::Call::exchange)) + ": " + exchange_error + at;
    }
    return not_sent;
}

std::string BatchOutcome::failure_kind() const
{
    if (error) {
        if (error->call() == dvkc::Call::parse && error->code() == DVKC_PARSE_SERVICE_ERROR) {
            return "ErrID " + std::to_string(error->err_id());
        }
        return std::to_string(error->code());
    }
    if (!sign_error.empty()) {
        return "signature";
    }
    if (!exchange_error.empty()) {
        return exchange_error.rfind("timed out", 0) == 0 ? "timeout" : "helper";
    }
    return {};
}

void Tally::add(const BatchOutcome &outcome)
{
    ++total;
    if (outcome.answered()) {
        ++answered;
    } else if (!outcome.not_sent.empty()) {
        ++not_sent;
    } else {
        ++failed;
        ++kinds[outcome.failure_kind()];
    }
}

int Tally::status() const noexcept
{
    if (answered == total) {
        return exit_ok;
    }
    return answered == 0 ? exit_failed : exit_partial;
}

std::string Tally::summary() const
{
    std::string text = std::to_string(total) + " batches: " + std::to_string(answered) + " answered, " +
                       std::to_string(failed) + " failed";
    if (!kinds.empty()) {
        text += " (";
        bool first = true;
        for (const auto &[kind, count] : kinds) {
            text += (first ? "" : ", ") + kind + " x" + std::to_string(count);
            first = false;
        }
        text += ")";
    }
    if (not_sent > 0) {
        text += ", " + std::to_string(not_sent) + " not sent";
    }
    return text;
}

BatchOutcome run_batch(const QueryOptions &options, const SignatureSource &signer,
                       const std::vector<InputRecord> &records, BatchRange range, std::int32_t seed,
                       const BatchControl &control)
{
    BatchOutcome outcome;
    outcome.range = range;
    outcome.attempts = 0;
    dvkc::Query query = batch_query(records, range);
    std::chrono::milliseconds back_off = first_back_off;
    for (unsigned attempt = 0;; ++attempt) {
        // A retry is a new document: another seed, so another nonce.
        const std::int32_t attempt_seed = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(seed) +
            static_cast<std::uint32_t>(attempt) * static_cast<std::uint32_t>(control.retry_seed_step));
        ++outcome.attempts;
        const bool retryable = attempt_batch(options, signer, query, attempt_seed, control.cancel_fd, outcome);
        if (!retryable || attempt >= options.retry || readable_now(control.cancel_fd)) {
            break;
        }
        if (!pause_unless_cancelled(back_off, control.cancel_fd)) {
            break;
        }
        back_off = std::min<std::chrono::milliseconds>(back_off * 2, longest_back_off);
    }
    if (readable_now(control.cancel_fd) && !outcome.answered()) {
        outcome.error.reset();
        outcome.sign_error.clear();
        outcome.exchange_error.clear();
        outcome.not_sent = "interrupted";
    }
    if (outcome.answered()) {
        outcome.codes.reserve(query.size());
        for (std::size_t i = 0; i < query.size(); ++i) {
            outcome.codes.push_back(query.code(i));
        }
    }
    return outcome;
}

int report_status(const QueryReport &report)
{
    Tally tally;
    for (const BatchOutcome &batch : report.batches) {
        tally.add(batch);
    }
    return tally.status();
}

int run_query(const QueryOptions &options, std::istream &in, std::ostream &out, std::ostream &err)
{
    if (options.batch_size < 1 || options.batch_size > 1000) {
        err << "dvkc: the batch size must be between 1 and 1000\n";
        return exit_usage;
    }
    if (!options.dry_run && options.endpoint.host.empty()) {
        err << "dvkc: --host is required (unless --dry-run)\n";
        return exit_usage;
    }
    if (!options.dry_run && options.endpoint.trust_file.empty()) {
        err << "dvkc: --trust is required (unless --dry-run)\n";
        return exit_usage;
    }
    if (std::string why = path_problem(options.endpoint.path); !why.empty()) {
        err << "dvkc: " << why << "\n";
        return exit_usage;
    }

    RecordsFile input;
    if (const int status = read_input(options, in, err, input); status != exit_ok) {
        return status;
    }
    std::optional<SignatureSource> signer;
    try {
        signer.emplace(make_signer(options));
    } catch (const SignatureError &e) {
        err << "dvkc: " << e.what() << "\n";
        return exit_input;
    }

    // Before any thread, after the input was read (until then a signal ends
    // the tool as usual): from here on the signals are taken by a thread of
    // their own.
    StopSignals signals;

    OutputTarget target(options.output_file, out);
    if (!target.ok()) {
        err << "dvkc: cannot write " << options.output_file << ": " << target.error() << "\n";
        return exit_internal;
    }
    signals.on_second_signal([temp = target.temp()] {
        if (!temp.empty()) {
            ::unlink(temp.c_str());
        }
    });

    const std::vector<BatchRange> batches = plan_batches(input.records.size(), options.batch_size);
    if (options.dry_run) {
        const int status = dry_run(options, *signer, input.records, batches, target, err, signals.stop_fd());
        if (signals.stopped()) {
            err << "dvkc: interrupted\n";
            return 128 + signals.signal();
        }
        return status;
    }

    const std::unique_ptr<RecordWriter> writer = make_writer(options.output, input.records);
    std::ostringstream chunk;
    const auto flush_chunk = [&] {
        const bool written = target.write(chunk.str());
        chunk.str({});
        return written;
    };
    writer->begin(chunk);
    bool written = flush_chunk();

    BatchRunner runner(options, *signer, input.records, batches, signals.stop_fd());
    {
        ProgressBar bar(err, batches.size(), options.progress && !options.quiet && batches.size() > 1);
        runner.run(
            [&](std::size_t b, const BatchOutcome &outcome) {
                if (!outcome.answered() && outcome.not_sent.empty()) {
                    bar.message(failure_text(b, batches.size(), outcome, options.verbose));
                }
                if (!written) {
                    return false;
                }
                writer->batch(chunk, b, outcome, input.records);
                written = flush_chunk();
                return written;
            },
            [&](const Tally &tally) { bar.draw(tally.total, tally.failed); });
    }
    const Tally &tally = runner.tally();
    int status = tally.status();
    if (written) {
        writer->end(chunk, status);
        written = flush_chunk() && target.commit();
    }
    if (!options.quiet && batches.size() > 1) {
        err << "dvkc: " << tally.summary() << "\n";
    }
    if (options.fail_fast && tally.not_sent > 0 && !signals.stopped() && written) {
        err << "dvkc: stopped after the first failure (--fail-fast)\n";
    }
    if (!written) {
        err << "dvkc: cannot write " << target.name() << ": " << target.error() << "\n";
        status = exit_internal;
    }
    if (signals.stopped()) {
        err << "dvkc: interrupted\n";
        return 128 + signals.signal();
    }
    return status;
}

}  // namespace dvkc::tool
