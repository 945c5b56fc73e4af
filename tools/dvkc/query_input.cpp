#include "query_input.h"

#include <charconv>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "exit_status.h"
#include "input_checks.h"

namespace dvkc::tool {
namespace {

// Why `text` (named `source`) is no TCP port, or "".
std::string port_problem(const std::string &text, const std::string &source, int &port)
{
    if (text.empty()) {
        return source + " is empty; it must be a port from 1 to 65535";
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc{} || end != text.data() + text.size() || port < 1 || port > 65535) {
        return source + " must be a port from 1 to 65535 (got '" + text + "')";
    }
    return {};
}

int report(std::ostream &err, const std::string &why, int status)
{
    err << "dvkc: " << why << "\n";
    return status;
}

int check_records(const QueryOptions &options, const RecordSource &records, std::ostream &err)
{
    const std::string source = options.records_file == "-" ? "standard input" : options.records_file;
    if (records.rejected() > 0) {
        for (const LineError &error : records.first_errors()) {
            err << "dvkc: " << source << ": " << format_line_error(error) << "\n";
        }
        if (records.rejected() > records.first_errors().size()) {
            err << "dvkc: ... and " << records.rejected() - records.first_errors().size() << " more rejected lines\n";
        }
        return report(err, std::to_string(records.rejected()) + " line(s) rejected; nothing was sent", exit_input);
    }
    if (records.size() == 0) {
        return report(err, source + " holds no records; nothing was sent", exit_input);
    }
    return exit_ok;
}

SignatureSource make_signer(const QueryOptions &options)
{
    switch (options.signature_kind) {
    case QueryOptions::SignatureKind::file:
        if (std::string why = file_problem(options.signature, "signature file"); !why.empty()) {
            throw SignatureError(why);
        }
        return SignatureSource::from_file(options.signature);
    case QueryOptions::SignatureKind::command:
        return SignatureSource::from_command(options.signature, std::chrono::seconds(options.sign_timeout),
                                             options.helper);
    case QueryOptions::SignatureKind::text:
        break;
    }
    return SignatureSource::from_text(options.signature);
}

}  // namespace

std::string read_port(const std::string &given, int &port)
{
    // Read before any thread of ours starts.
    const char *env_port = std::getenv("DVKC_PORT");  // NOLINT(concurrency-mt-unsafe)
    const bool from_env = given.empty() && env_port != nullptr;
    const std::string text = !given.empty() ? given : from_env ? env_port : "443";
    return port_problem(text, from_env ? "DVKC_PORT" : "--port", port);
}

int check_command_line(QueryOptions &options, std::ostream &err)
{
    if (std::string why = read_port(options.port, options.endpoint.port); !why.empty()) {
        return report(err, why, exit_usage);
    }
    if (!options.dry_run && options.endpoint.host.empty()) {
        return report(err, "--host is required (unless --dry-run)", exit_usage);
    }
    if (!options.dry_run && options.endpoint.trust_file.empty()) {
        return report(err, "--trust is required (unless --dry-run)", exit_usage);
    }
    if (std::string why = path_problem(options.endpoint.path); !why.empty()) {
        return report(err, why, exit_usage);
    }
    return exit_ok;
}

int read_input(const QueryOptions &options, std::istream &in, std::ostream &err, std::unique_ptr<RecordSource> &records,
               std::optional<SignatureSource> &signer)
{
    if (options.records_file != "-") {
        if (std::string why = file_problem(options.records_file, "records file"); !why.empty()) {
            return report(err, why, exit_input);
        }
    }
    try {
        records = std::make_unique<RecordSource>(options.records_file, in);
    } catch (const std::runtime_error &e) {
        return report(err, e.what(), exit_input);
    }
    if (const int status = check_records(options, *records, err); status != exit_ok) {
        return status;
    }
    if (std::string why = file_problem(options.identity_file, "identity file"); !why.empty()) {
        return report(err, why, exit_input);
    }
    if (file_size(options.identity_file) == 0 && !options.quiet) {
        err << "dvkc: warning: the identity file " << options.identity_file
            << " is empty; the ClientID will be the SHA-1 of nothing\n";
    }
    if (!options.dry_run) {
        if (std::string why = trust_file_problem(options.endpoint.trust_file); !why.empty()) {
            return report(err, why, exit_input);
        }
    }
    try {
        signer.emplace(make_signer(options));
    } catch (const SignatureError &e) {
        return report(err, e.what(), exit_input);
    }
    return exit_ok;
}

}  // namespace dvkc::tool
