#include "serve.h"

#include <arpa/inet.h>
#include <signal.h>

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
#include "throwaway_pki.h"

namespace dvkc::tool {
namespace {

// Blocks SIGINT and SIGTERM in this thread (and the threads it starts) for
// its lifetime, so that wait() can take them.
class StopSignals {
public:
    StopSignals()
    {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;
    ~StopSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

    int wait()
    {
        int signal = 0;
        while (sigwait(&set_, &signal) != 0) {
        }
        return signal;
    }

private:
    sigset_t set_{};
    sigset_t old_{};
};

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
        std::ifstream in(options.codes_file, std::ios::binary);
        if (!in) {
            err << "dvkc: cannot read the codes file " << options.codes_file << "\n";
            return exit_input;
        }
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
    service.log = [&out](std::string_view line) { out << line << std::endl; };

    StopSignals signals;
    std::optional<dvkc::sample::TempDir> scratch;
    std::string trust_file;
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
                std::filesystem::create_directories(dir);
            }
            const dvkc::sample::ThrowawayPki pki = dvkc::sample::make_throwaway_pki(dir);
            service.identity = pki.leaf_intermediate;
            trust_file = pki.trust_root_intermediate;
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
        << "/ (stop with Ctrl-C or SIGTERM)\n";
    if (!trust_file.empty()) {
        out << "dvkc serve: trust file for clients: " << trust_file
            << (options.pki_dir.empty() ? " (removed when the service stops)" : "") << "\n";
    }
    out << "dvkc serve: codes: " << (service.error ? "every query answered with ErrID " + std::to_string(*service.error)
                                                   : std::to_string(service.codes.size()) +
                                                         " from the codes file, others the sum of the SN's bytes modulo 1000")
        << std::endl;

    const int signal = signals.wait();
    running->stop();
    out << "dvkc serve: stopped by " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << std::endl;
    return exit_ok;
}

}  // namespace dvkc::tool
