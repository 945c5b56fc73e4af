#include "demo/demo.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "batch/one_batch.h"
#include "batch/output.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "common/stop_signals.h"
#include "sample_pki.h"
#include "sample_service.h"
#include "temp_dir.h"

namespace dvkc::tool {
namespace {

const std::vector<InputRecord> &demo_records()
{
    static const std::vector<InputRecord> records = {{"SN-0001", "A123", 1},
                                                     {"SN-0002", "B456", 2},
                                                     {"DEV42-7781", "WIFI-HOME", 3},
                                                     {"0000000000000001", "0123456789", 4},
                                                     {"X", "Z", 5}};
    return records;
}

// One query of the demo's records against `service`; prints the table.
bool query_and_print(const dvkc::sample::TempDir &dir, const std::string &trust_file, std::uint16_t port,
                     const std::string &helper, int cancel_fd, std::ostream &out, std::ostream &err)
{
    BatchSettings settings;
    settings.endpoint = {"127.0.0.1", port, "/dvk", trust_file};
    settings.identity_file =
        dir.write_file("identity.bin", "demo client identity: any file will do; its SHA-1 is the ClientID\n");
    settings.helper = helper;
    const SignatureSource signer = SignatureSource::from_text("placeholder-signature");
    NonceBook nonces;
    const BatchJob job{settings, signer, nonces, cancel_fd, 1, {}};
    const std::vector<InputRecord> &records = demo_records();
    out << "dvkc demo: a throwaway PKI and identity file in " << dir.path().string() << "\n"
        << "dvkc demo: the sample service listens on https://127.0.0.1:" << port << "/dvk\n"
        << "dvkc demo: querying " << records.size() << " records with a placeholder signature\n\n";
    ExchangeHelper exchanges(helper, settings.endpoint);
    const BatchOutcome outcome = run_batch(job, exchanges, records, {0, {0, records.size()}, 42});
    if (outcome.not_sent() && !outcome.answered()) {
        return false;
    }
    const auto writer = make_writer(OutputFormat::table, 16, 10);
    writer->begin(out);
    writer->batch(out, 0, outcome, records);
    if (!outcome.answered()) {
        err << failure_text(0, 1, outcome, true) << "\n";
    }
    return outcome.answered();
}

}  // namespace

int run_demo(std::ostream &out, std::ostream &err, const std::string &helper)
{
    // Taken before any thread starts; the temporary files go on every signal.
    StopSignals signals;
    std::optional<dvkc::sample::TempDir> scratch;
    const auto interrupted = [&] {
        signals.on_second_signal({});
        scratch.reset();
        err << "dvkc: demo interrupted; temporary files removed\n";
        return 128 + signals.signal();
    };
    try {
        scratch.emplace("dvkc-demo-");
        remove_on_second_signal(signals, scratch->path());
        const dvkc::sample::SamplePki pki = dvkc::sample::keep_sample_pki(scratch->path(), 2);
        if (signals.stopped()) {
            return interrupted();
        }
        dvkc::sample::SampleServiceOptions service_options;
        service_options.identity = pki.identity;
        dvkc::sample::SampleService service(service_options);
        service.start();
        const bool answered =
            query_and_print(*scratch, pki.trust_file, service.port(), helper, signals.stop_fd(), out, err);
        service.stop();
        if (signals.stopped()) {
            return interrupted();
        }
        if (!answered) {
            return exit_internal;
        }
        signals.on_second_signal({});
        scratch.reset();
        out << "\n(the sample service's codes: the sum of each SN's bytes modulo 1000)\n"
            << "dvkc demo: done; temporary files removed\n";
        return exit_ok;
    } catch (const std::exception &e) {
        err << "dvkc: demo: " << e.what() << "\n";
        return exit_internal;
    }
}

void setup_demo(CLI::App &app, ToolContext &tool)
{
    CLI::App *command = app.add_subcommand(
        "demo", "Query a sample service on this machine with throwaway certificates and print the table");
    command->footer(exit_status_help);
    command->callback([&tool] { tool.status = run_demo(tool.out, tool.err, tool.program); });
}

}  // namespace dvkc::tool
