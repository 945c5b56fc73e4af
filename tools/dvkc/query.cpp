#include "query.h"

#include <fstream>

#include "exit_status.h"
#include "output.h"

namespace dvkc::tool {
namespace {

constexpr std::size_t max_errors_shown = 20;

bool readable(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return static_cast<bool>(in);
}

SignatureSource make_signer(const QueryOptions &options)
{
    switch (options.signature_kind) {
    case QueryOptions::SignatureKind::file: return SignatureSource::from_file(options.signature);
    case QueryOptions::SignatureKind::command: return SignatureSource::from_command(options.signature);
    case QueryOptions::SignatureKind::text: break;
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

// A one-line bar redrawn on the error stream as batches finish.
class ProgressBar {
public:
    ProgressBar(std::ostream &err, std::size_t total, bool enabled) : err_(err), total_(total), enabled_(enabled)
    {
        draw(0);
    }
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;
    ~ProgressBar()
    {
        if (enabled_) {
            err_ << '\r' << std::string(width + 30, ' ') << '\r' << std::flush;
        }
    }

    void draw(std::size_t done)
    {
        if (!enabled_) {
            return;
        }
        const std::size_t filled = total_ ? done * width / total_ : width;
        err_ << "\r[" << std::string(filled, '#') << std::string(width - filled, '.') << "] " << done << '/'
             << total_ << " batches" << std::flush;
    }

private:
    static constexpr std::size_t width = 40;
    std::ostream &err_;
    std::size_t total_;
    bool enabled_;
};

int dry_run(const QueryOptions &options, const SignatureSource &signer, const std::vector<InputRecord> &records,
            const std::vector<BatchRange> &batches, std::ostream &out, std::ostream &err)
{
    for (std::size_t b = 0; b < batches.size(); ++b) {
        const BatchRange range = batches[b];
        dvkc::Query query = batch_query(records, range);
        try {
            const dvkc::Buffer document = query.build(batch_seed(options.seed, b), options.identity_file);
            const std::string signature = signer.sign(document.view());
            const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), signature);
            out << "# batch " << b + 1 << " of " << batches.size() << ": records " << range.first + 1 << " to "
                << range.first + range.count << "\n# document (" << document.length() << " bytes)\n"
                << document.view() << "\n# envelope (" << envelope.length() << " bytes)\n"
                << envelope.view() << "\n";
        } catch (const dvkc::Error &e) {
            err << "dvkc: batch " << b + 1 << ": " << e.what() << "\n";
            return exit_failed;
        } catch (const SignatureError &e) {
            err << "dvkc: batch " << b + 1 << ": " << e.what() << "\n";
            return exit_failed;
        }
    }
    return exit_ok;
}

}  // namespace

std::string BatchOutcome::failure() const
{
    if (error) {
        return error->what();
    }
    return sign_error;
}

BatchOutcome run_batch(const QueryOptions &options, const SignatureSource &signer,
                       const std::vector<InputRecord> &records, BatchRange range, std::int32_t seed)
{
    BatchOutcome outcome;
    outcome.range = range;
    dvkc::Query query = batch_query(records, range);
    dvkc::Buffer answer;
    try {
        const dvkc::Buffer document = query.build(seed, options.identity_file);
        const std::string signature = signer.sign(document.view());
        const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), signature);
        answer = dvkc::exchange(options.endpoint, envelope.view());
        query.parse(answer);
    } catch (const dvkc::Error &e) {
        outcome.error = e;
        if (e.call() == dvkc::Call::parse) {
            outcome.answer.assign(answer.view());
        }
        return outcome;
    } catch (const SignatureError &e) {
        outcome.sign_error = e.what();
        return outcome;
    }
    outcome.codes.reserve(query.size());
    for (std::size_t i = 0; i < query.size(); ++i) {
        outcome.codes.push_back(query.code(i));
    }
    return outcome;
}

int report_status(const QueryReport &report)
{
    std::size_t answered = 0;
    for (const BatchOutcome &batch : report.batches) {
        answered += batch.answered() ? 1 : 0;
    }
    if (answered == report.batches.size()) {
        return exit_ok;
    }
    return answered == 0 ? exit_failed : exit_partial;
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

    RecordsFile input;
    if (options.records_file == "-") {
        input = read_records(in);
    } else {
        std::ifstream file(options.records_file, std::ios::binary);
        if (!file) {
            err << "dvkc: cannot read the records file " << options.records_file << "\n";
            return exit_input;
        }
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
    if (!readable(options.identity_file)) {
        err << "dvkc: cannot read the identity file " << options.identity_file << "\n";
        return exit_input;
    }
    if (!options.dry_run && !readable(options.endpoint.trust_file)) {
        err << "dvkc: cannot read the trust file " << options.endpoint.trust_file << "\n";
        return exit_input;
    }
    std::optional<SignatureSource> signer;
    try {
        signer.emplace(make_signer(options));
    } catch (const SignatureError &e) {
        err << "dvkc: " << e.what() << "\n";
        return exit_input;
    }

    const std::vector<BatchRange> batches = plan_batches(input.records.size(), options.batch_size);
    if (options.dry_run) {
        return dry_run(options, *signer, input.records, batches, out, err);
    }

    QueryReport report;
    report.batches.resize(batches.size());
    {
        ProgressBar bar(err, batches.size(), options.progress && batches.size() > 1);
        run_parallel(
            batches.size(), options.jobs,
            [&](std::size_t b) {
                report.batches[b] = run_batch(options, *signer, input.records, batches[b], batch_seed(options.seed, b));
            },
            [&](std::size_t done) { bar.draw(done); });
    }
    report.records = std::move(input.records);

    switch (options.output) {
    case OutputFormat::table: write_table(out, report); break;
    case OutputFormat::json: write_json(out, report); break;
    case OutputFormat::csv: write_csv(out, report); break;
    }
    out.flush();
    write_failures(err, report, options.verbose);
    return report_status(report);
}

}  // namespace dvkc::tool
