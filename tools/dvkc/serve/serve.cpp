#include "serve/serve.h"

#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <memory>
#include <system_error>

#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <vector>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "common/csv.h"
#include "common/input_checks.h"
#include "common/stop_signals.h"
#include "dvkc.hpp"
#include "sample_pki.h"
#include "sample_service.h"
#include "temp_dir.h"

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

// The --pki-dir directory, made 0700 whatever the umask when it is new.
void make_private_directory(const std::filesystem::path &dir)
{
    if (!dir.parent_path().empty()) {
        std::filesystem::create_directories(dir.parent_path());
    }
    if (::mkdir(dir.c_str(), 0700) == 0) {
        ::chmod(dir.c_str(), 0700);
    } else if (errno != EEXIST) {
        throw std::runtime_error("cannot make " + dir.string() + ": " + std::generic_category().message(errno));
    }
}

}  // namespace

void setup_serve(CLI::App &app, ToolContext &tool)
{
    auto serve = std::make_shared<ServeOptions>();
    CLI::App *command = app.add_subcommand("serve", "Run the sample service (HTTPS, loopback by default)");
    command->add_option("--listen", serve->listen, "Dotted IPv4 address and port (port 0: any free port)")
        ->type_name("ADDRESS:PORT")
        ->capture_default_str();
    CLI::Option *cert =
        command->add_option("--cert", serve->cert, "The service's certificate (PEM)")->type_name("FILE");
    command->add_option("--key", serve->key, "The certificate's private key (PEM)")->type_name("FILE")->needs(cert);
    command->add_option("--chain", serve->chain, "Issuer certificates to present after it (PEM)")
        ->type_name("FILE")
        ->needs(cert);
    command->add_option("--pki-dir", serve->pki_dir, "Keep the sample PKI in this directory (reused when there)")
        ->type_name("DIR")
        ->excludes(cert);
    command->add_option("--codes", serve->codes_file, "CSV file of SN,Code answers")->type_name("FILE");
    command->add_option("--error", serve->error, "Answer every query with this service error number (ErrID)")
        ->type_name("N");
    command
        ->add_option_function<std::string>(
            "--tls-max",
            [serve](const std::string &v) {
                serve->max_tls_version = v == "1.0"   ? TLS1_VERSION
                                         : v == "1.1" ? TLS1_1_VERSION
                                         : v == "1.2" ? TLS1_2_VERSION
                                                      : TLS1_3_VERSION;
            },
            "Highest TLS version offered: 1.0, 1.1, 1.2 or 1.3 (below 1.2 at security level 0)")
        ->type_name("VERSION")
        ->check(CLI::IsMember({"1.0", "1.1", "1.2", "1.3"}));
    command->footer(std::string("Without --cert a sample PKI is made: in a temporary directory removed on\n"
                                "exit, or in --pki-dir (made 0700 when new), where it is kept (certificates\n"
                                "valid for a year, the key mode 0600) and reused by later runs; files\n"
                                "already there are never overwritten. The clients' trust file is printed.\n"
                                "A record's code comes from --codes, else it is the sum of its SN's bytes\n"
                                "modulo 1000. One log line per request: time, peer, records, result.\n"
                                "Malformed requests are answered with HTTP 400. At most 32 connections\n"
                                "are served at once, each closed 30 s after it was accepted whatever it\n"
                                "does. With all 32 taken a new connection waits in the backlog until one\n"
                                "ends, or until a connection has idled 1 s (waiting for its request, or for\n"
                                "its client to hang up after the answer; never while being answered): the\n"
                                "one idle longest is then closed for it. Stops on SIGINT, SIGTERM or\n"
                                "SIGHUP, with exit status 0.\n\n") +
                    exit_status_help);
    command->callback([&tool, serve] { tool.status = run_serve(*serve, tool.out, tool.err); });
}

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

namespace {

// The --codes file into `service`; returns 0 or the exit status.
int load_codes(const ServeOptions &options, dvkc::sample::SampleServiceOptions &service, std::ostream &err)
{
    if (options.codes_file.empty()) {
        return exit_ok;
    }
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
    return exit_ok;
}

struct ServiceIdentity {
    std::string trust_file;  // "" with --cert
    bool reused = false;
};

// The service's certificate: given, or a sample PKI made in `scratch` or
// --pki-dir. Throws on failure.
ServiceIdentity make_identity(const ServeOptions &options, dvkc::sample::SampleServiceOptions &service,
                              std::optional<dvkc::sample::TempDir> &scratch, StopSignals &signals)
{
    if (!options.cert.empty()) {
        service.identity = {options.cert, options.key};
        if (!options.chain.empty()) {
            scratch.emplace("dvkc-serve-");
            remove_on_second_signal(signals, scratch->path());
            const std::filesystem::path combined = scratch->path() / "chain.pem";
            std::ofstream chain(combined, std::ios::binary);
            chain << read_whole(options.cert) << "\n" << read_whole(options.chain);
            if (!chain.flush()) {
                throw std::runtime_error("cannot write " + combined.string());
            }
            service.identity.chain_file = combined.string();
        }
        return {};
    }
    std::filesystem::path dir;
    if (options.pki_dir.empty()) {
        scratch.emplace("dvkc-serve-");
        remove_on_second_signal(signals, scratch->path());
        dir = scratch->path();
    } else {
        dir = options.pki_dir;
        make_private_directory(dir);
    }
    const dvkc::sample::SamplePki pki = dvkc::sample::keep_sample_pki(dir, options.pki_dir.empty() ? 2 : 365);
    service.identity = pki.identity;
    return {pki.trust_file, pki.reused};
}

void announce(const ServeOptions &options, const dvkc::sample::SampleServiceOptions &service, std::uint16_t port,
              const ServiceIdentity &identity, std::ostream &out)
{
    out << "dvkc serve: listening on https://" << service.address << ':' << port
        << "/ (stop with Ctrl-C, SIGTERM or SIGHUP)\n";
    if (!identity.trust_file.empty()) {
        out << "dvkc serve: trust file for clients: " << identity.trust_file
            << (options.pki_dir.empty() ? " (removed when the service stops)"
                : identity.reused       ? " (kept from an earlier run)"
                                        : " (kept)")
            << "\n";
    }
    out << "dvkc serve: codes: "
        << (service.error ? "every query answered with ErrID " + std::to_string(*service.error)
                          : std::to_string(service.codes.size()) +
                                " from the codes file, others the sum of the SN's bytes modulo 1000")
        << std::endl;
}

int check_serve_options(const ServeOptions &options, dvkc::sample::SampleServiceOptions &service, std::ostream &err)
{
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
    return load_codes(options, service, err);
}

}  // namespace

int run_serve(const ServeOptions &options, std::ostream &out, std::ostream &err)
{
    dvkc::sample::SampleServiceOptions service;
    if (const int status = check_serve_options(options, service, err); status != exit_ok) {
        return status;
    }
    service.error = options.error;
    service.max_tls_version = options.max_tls_version;
    service.log = [&out](std::string_view line) { out << line << std::endl; };

    StopSignals signals;
    std::optional<dvkc::sample::TempDir> scratch;
    ServiceIdentity identity;
    try {
        identity = make_identity(options, service, scratch, signals);
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
    announce(options, service, running->port(), identity, out);
    const int signal = signals.wait();
    running->stop();
    out << "dvkc serve: stopped by " << StopSignals::name(signal) << std::endl;
    return exit_ok;
}

}  // namespace dvkc::tool
