#include "query/query.h"

#include <unistd.h>

#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/output.h"
#include "cli/exit_status.h"
#include "common/stop_signals.h"
#include "common/write_signals_block.h"
#include "query/batch_runner.h"
#include "query/dry_run.h"
#include "query/output_target.h"
#include "query/progress.h"
#include "query/query_input.h"

namespace dvkc::tool {
namespace {

// "batch 2 was" / "batches 2, 3 were"
std::string batch_list(const std::vector<std::size_t> &batches)
{
    std::string text = batches.size() == 1 ? "batch " : "batches ";
    for (std::size_t i = 0; i < batches.size(); ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(batches[i] + 1);
    }
    return text + (batches.size() == 1 ? " was" : " were");
}

// Runs every batch, printing each as it is done; the output's end and the
// messages after the run. Returns the exit status.
class QueryRun {
public:
    QueryRun(const QueryOptions &options, RecordSource &records, const SignatureSource &signer, std::ostream &out,
             std::ostream &err)
        : options_(options), records_(records), signer_(signer), err_(err), target_(options.output_file, out),
          plan_(records.size(), options.batch_size)
    {
    }

    int run(StopSignals &signals)
    {
        if (!target_.ok()) {
            err_ << "dvkc: cannot write " << target_.name() << ": " << target_.error() << "\n";
            return exit_internal;
        }
        signals.on_second_signal([temp = target_.temp()] {
            if (!temp.empty()) {
                ::unlink(temp.c_str());
            }
        });
        if (options_.dry_run) {
            return dry_run(options_, signer_, records_, target_, err_, signals);
        }
        NonceBook nonces;
        const BatchJob job{options_.batch,
                           signer_,
                           nonces,
                           signals.stop_fd(),
                           static_cast<std::int32_t>(plan_.size()),
                           [this](std::size_t b, const BatchOutcome &outcome, std::chrono::seconds pause) {
                               retrying(b, outcome, pause);
                           }};
        BatchRunner runner(job, options_, records_, plan_);
        {
            ProgressBar bar(err_, plan_.size(), options_.progress && !options_.quiet && plan_.size() > 1);
            bar_ = &bar;
            written_ = write_text([&](std::ostream &chunk) { writer_->begin(chunk); });
            runner.run([&](std::size_t b, const BatchOutcome &outcome,
                           const std::vector<InputRecord> &records) { return print(b, outcome, records); },
                       [&](const Tally &tally) { bar.draw(tally.total, tally.failed); });
            bar_ = nullptr;
        }
        return finish(runner, signals.signal());
    }

private:
    template <typename Fn>
    bool write_text(Fn fn)
    {
        std::ostringstream chunk;
        try {
            fn(chunk);
        } catch (const std::runtime_error &e) {
            target_.fail(e.what());
            return false;
        }
        if (bar_ != nullptr && target_.terminal()) {
            bool written = false;
            bar_->above([&] { written = target_.write(chunk.str()); });
            return written;
        }
        return target_.write(chunk.str());
    }

    bool print(std::size_t b, const BatchOutcome &outcome, const std::vector<InputRecord> &records)
    {
        if (!outcome.answered() && !outcome.not_sent()) {
            bar_->message(failure_text(b, plan_.size(), outcome, options_.verbose));
        }
        written_ = written_ && write_text([&](std::ostream &chunk) { writer_->batch(chunk, b, outcome, records); });
        return written_;
    }

    void retrying(std::size_t b, const BatchOutcome &outcome, std::chrono::seconds pause)
    {
        if (bar_ != nullptr && !options_.quiet) {
            bar_->message(failure_text(b, plan_.size(), outcome, false) + "; retrying in " +
                          std::to_string(pause.count()) + " s");
        }
    }

    // The output is put in place first, so that nothing written to standard
    // error afterwards (a closed pipe, say) can cost the results.
    int finish(const BatchRunner &runner, int signal)
    {
        const Tally &tally = runner.tally();
        int status = tally.status(signal);
        if (written_) {
            // Written as it is made: the list of batches can be long.
            TargetBuffer buffer(target_);
            std::ostream stream(&buffer);
            try {
                writer_->end(stream, status);
                stream.flush();
                written_ = stream.good();
            } catch (const std::runtime_error &e) {
                target_.fail(e.what());
                written_ = false;
            }
        }
        const bool whole = written_;
        const bool kept = whole && target_.replaces() && tally.answered == 0;
        if (whole && !kept) {
            written_ = target_.commit();
        }
        if (!options_.quiet && plan_.size() > 1) {
            err_ << "dvkc: " << tally.summary() << "\n";
        }
        if (signal == 0 && !runner.stop_reason().empty() && tally.not_sent > 0 && whole) {
            err_ << "dvkc: stopped after the first failure ("
                 << (options_.fail_fast ? "--fail-fast" : "every batch would fail the same way") << ")\n";
        }
        if (kept) {
            err_ << "dvkc: no batch was answered; " << target_.name() << " was left as it was\n";
        }
        if (!written_) {
            err_ << "dvkc: cannot write " << target_.name() << ": " << target_.error() << "\n";
            status = signal != 0 ? status : exit_internal;
        }
        if (signal != 0) {
            err_ << "dvkc: interrupted"
                 << (runner.stopped_in_flight().empty()
                         ? std::string()
                         : "; " + batch_list(runner.stopped_in_flight()) + " stopped in flight")
                 << "\n";
        }
        return status;
    }

    const QueryOptions &options_;
    RecordSource &records_;
    const SignatureSource &signer_;
    std::ostream &err_;
    OutputTarget target_;
    BatchPlan plan_;
    std::unique_ptr<RecordWriter> writer_ = make_writer(options_.output, records_.sn_width(), records_.ssid_width());
    ProgressBar *bar_ = nullptr;
    bool written_ = true;
};

}  // namespace

int run_query(QueryOptions options, std::istream &in, std::ostream &out, std::ostream &err)
{
    if (const int status = check_command_line(options, err); status != exit_ok) {
        return status;
    }
    if (options.seed_given && zero_factor(options.seed)) {
        err << "dvkc: warning: --seed " << options.seed
            << " would give every request the same nonce; the next seed is used instead\n";
    }
    // From here on a closed standard error or the file-size limit fails a
    // write, which is told, rather than ending the run.
    const WriteSignalsBlock write_signals;
    QueryInput input;
    if (const int status = read_input(options, in, err, input); status != exit_ok) {
        return status;
    }
    // Before any thread, after the input was read (until then a signal ends
    // the tool as usual): from here on the signals are taken by a thread of
    // their own.
    StopSignals signals;
    QueryRun run(options, *input.records, *input.signer, out, err);
    return run.run(signals);
}

}  // namespace dvkc::tool
