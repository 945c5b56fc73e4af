#include "demo.h"

#include <filesystem>
#include <optional>
#include <string>

#include "exit_status.h"
#include "output.h"
#include "query.h"
#include "sample_service.h"
#include "temp_dir.h"
#include "sample_pki.h"
#include "stop_signals.h"

namespace dvkc::tool {

int run_demo(std::ostream &out, std::ostream &err, const std::string &helper)
{
    // Taken before any thread starts; the temporary files go on every signal.
    StopSignals signals;
    std::optional<dvkc::sample::TempDir> scratch;
    remove_on_second_signal(signals, scratch);
    const auto interrupted = [&] {
        scratch.reset();
        err << "dvkc: demo interrupted; temporary files removed\n";
        return 128 + signals.signal();
    };
    try {
        scratch.emplace("dvkc-demo-");
        const dvkc::sample::TempDir &dir = *scratch;
        const dvkc::sample::SamplePki pki = dvkc::sample::keep_sample_pki(dir.path(), 2);
        const std::string identity =
            dir.write_file("identity.bin", "demo client identity: any file will do; its SHA-1 is the ClientID\n");
        if (signals.stopped()) {
            return interrupted();
        }

        dvkc::sample::SampleServiceOptions service_options;
        service_options.identity = pki.identity;
        dvkc::sample::SampleService service(service_options);
        service.start();

        QueryOptions query;
        query.endpoint = {"127.0.0.1", service.port(), "/dvk", pki.trust_file};
        query.identity_file = identity;
        query.helper = helper;
        QueryReport report;
        report.records = {{"SN-0001", "A123", 1},
                          {"SN-0002", "B456", 2},
                          {"DEV42-7781", "WIFI-HOME", 3},
                          {"0000000000000001", "0123456789", 4},
                          {"X", "Z", 5}};
        const SignatureSource signer = SignatureSource::from_text("placeholder-signature");
        out << "dvkc demo: a throwaway PKI and identity file in " << dir.path().string() << "\n"
            << "dvkc demo: the sample service listens on https://127.0.0.1:" << service.port() << "/dvk\n"
            << "dvkc demo: querying " << report.records.size() << " records with a placeholder signature\n\n";
        report.batches.push_back(
            run_batch(query, signer, report.records, {0, report.records.size()}, 42, {signals.stop_fd(), 1}));
        service.stop();
        if (signals.stopped()) {
            return interrupted();
        }

        write_table(out, report);
        write_failures(err, report, true);
        if (!report.batches.front().answered()) {
            return exit_internal;
        }
        scratch.reset();
        out << "\n(the sample service's codes: the sum of each SN's bytes modulo 1000)\n"
            << "dvkc demo: done; temporary files removed\n";
        return exit_ok;
    } catch (const std::exception &e) {
        err << "dvkc: demo: " << e.what() << "\n";
        return exit_internal;
    }
}

}  // namespace dvkc::tool
