#include "serve.h"

#include <arpa/inet.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <vector>

#include "csv.h"
#include "dvkc.hpp"
#include "exit_status.h"
#include "sample_service.h"
#include "temp_dir.h"
#include "input_checks.h"
#include "sample_pki.h"
#include "stop_signals.h"

namespace dvkc::tool {
namespace {

std::string read_whole(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

bool parse_listen(const std::string &text, std::string &address, std::uint16_t &port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string host = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    in_addr parsed{};
    if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1) {
        return false;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size() || value > 65535) {
        return false;
    }
    address = host;
    port = static_cast<std::uint16_t>(value);
    return true;
}

int run_serve(const ServeOptions &options, std::ostream &out, std::ostream &err)
{
    dvkc::sample::SampleServiceOptions service;
    if (!parse_listen(options.listen, service.address, service.port)) {
        err << "dvkc: --listen wants a dotted IPv4 address and a port, e.g. 127.0.0.1:8443\n";
        return exit_usage;
    }
    if (options.cert.empty() != options.key.empty() || (!options.chain.empty() && options.cert.empty())) {
        err << "dvkc: --cert and --key go together (and --chain needs them)\n";
        return exit_usage;
    }
    if (!options.cert.empty() && !options.pki_dir.empty()) {
        err << "dvkc: give either --cert/--key or --pki-dir\n";
        return exit_usage;
    }
    if (!options.codes_file.empty()) {
        if (const std::string why = file_problem(options.codes_file, "codes file"); !why.empty()) {
            err << "dvkc: " << why << "\n";
            return exit_input;
        }
        std::ifstream in(options.codes_file, std::ios::binary);
        const CodesFile codes = read_codes(in);
        for (const LineError &error : codes.errors) {
            err << "dvkc: " << options.codes_file << ": " << format_line_error(error) << "\n";
        }
        if (!codes.errors.empty()) {
            return exit_input;
        }
        for (const CodeEntry &entry : codes.entries) {
            service.codes.emplace(entry.sn, entry.code);
        }
    }
    service.error = options.error;
    service.max_tls_version = options.max_tls_version;
    service.log = [&out](std::string_view line) { out << line << std::endl; };

    StopSignals signals;
    std::optional<dvkc::sample::TempDir> scratch;
    remove_on_second_signal(signals, scratch);
    std::string trust_file;
    bool pki_reused = false;
    try {
        if (!options.cert.empty()) {
            service.identity = {options.cert, options.key};
            if (!options.chain.empty()) {
                scratch.emplace("dvkc-serve-");
                const std::filesystem::path combined = scratch->path() / "chain.pem";
                std::ofstream chain(combined, std::ios::binary);
                chain << read_whole(options.cert) << "\n" << read_whole(options.chain);
                if (!chain.flush()) {
                    throw std::runtime_error("cannot write " + combined.string());
                }
                service.identity.chain_file = combined.string();
            }
        } else {
            std::filesystem::path dir;
            if (options.pki_dir.empty()) {
                scratch.emplace("dvkc-serve-");
                dir = scratch->path();
            } else {
                dir = options.pki_dir;
            }
            const dvkc::sample::SamplePki pki = dvkc::sample::keep_sample_pki(dir, options.pki_dir.empty() ? 2 : 365);
            service.identity = pki.identity;
            trust_file = pki.trust_file;
            pki_reused = pki.reused;
        }
    } catch (const std::exception &e) {
        err << "dvkc: " << e.what() << "\n";
        return exit_internal;
    }

    std::optional<dvkc::sample::SampleService> running;
    try {
        running.emplace(service);
        running->start();
    } catch (const std::exception &e) {
        err << "dvkc: cannot serve on " << options.listen << ": " << e.what() << "\n";
        return exit_internal;
    }
    out << "dvkc serve: listening on https://" << service.address << ':' << running->port()
        << "/ (stop with Ctrl-C, SIGTERM or SIGHUP)\n";
    if (!trust_file.empty()) {
        out << "dvkc serve: trust file for clients: " << trust_file
            << (options.pki_dir.empty() ? " (removed when the service stops)"
                : pki_reused            ? " (kept from an earlier run)"
                                        : " (kept)")
            << "\n";
    }
    out << "dvkc serve: codes: "
        << (service.error ? "every query answered with ErrID " + std::to_string(*service.error)
                          : std::to_string(service.codes.size()) +
                                " from the codes file, others the sum of the SN's bytes modulo 1000")
        << std::endl;

    const int signal = signals.wait();
    running->stop();
    out << "dvkc serve: stopped by " << StopSignals::name(signal) << std::endl;
    return exit_ok;
}

}  // namespace dvkc::tool
