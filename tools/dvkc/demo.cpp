#include "demo.h"

#include <filesystem>
#include <fstream>

#include "exit_status.h"
#include "output.h"
#include "query.h"
#include "sample_service.h"
#include "temp_dir.h"
#include "throwaway_pki.h"

namespace dvkc::tool {

int run_demo(std::ostream &out, std::ostream &err)
{
    try {
        const dvkc::sample::TempDir dir("dvkc-demo-");
        const dvkc::sample::ThrowawayPki pki = dvkc::sample::make_throwaway_pki(dir.path());
        const std::filesystem::path identity = dir.path() / "identity.bin";
        {
            std::ofstream file(identity, std::ios::binary);
            file << "demo client identity: any file will do; its SHA-1 is the ClientID\n";
        }

        dvkc::sample::SampleServiceOptions service_options;
        service_options.identity = pki.leaf_intermediate;
        dvkc::sample::SampleService service(service_options);
        service.start();

        QueryOptions query;
        query.endpoint = {"127.0.0.1", service.port(), "/dvk", pki.trust_root_intermediate};
        query.identity_file = identity.string();
        QueryReport report;
        report.records = {{"SN-0001", "A123", 1}, {"SN-0002", "B456", 2}, {"DEV42-7781", "WIFI-HOME", 3},
                          {"0000000000000001", "0123456789", 4}, {"X", "Z", 5}};
        const SignatureSource signer = SignatureSource::from_text("placeholder-signature");
        out << "dvkc demo: a throwaway PKI and identity file in " << dir.path().string() << "\n"
            << "dvkc demo: the sample service listens on https://127.0.0.1:" << service.port() << "/dvk\n"
            << "dvkc demo: querying " << report.records.size() << " records with a placeholder signature\n\n";
        report.batches.push_back(run_batch(query, signer, report.records, {0, report.records.size()}, 42));
        service.stop();

        write_table(out, report);
        write_failures(err, report, true);
        if (!report.batches.front().answered()) {
            return exit_internal;
        }
        out << "\n(the sample service's codes: the sum of each SN's bytes modulo 1000)\n"
            << "dvkc demo: done; temporary files removed\n";
        return exit_ok;
    } catch (const std::exception &e) {
        err << "dvkc demo: " << e.what() << "\n";
        return exit_internal;
    }
}

}  // namespace dvkc::tool
