#include "check/check.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>

#include "check/check_report.h"
#include "cli/command.h"
#include "cli/endpoint_options.h"
#include "cli/exit_status.h"
#include "common/input_file.h"

namespace dvkc::tool {
namespace {

const char *const check_footer =
    "Connects as the library does (IPv4, TLS 1.2 or later, no server name, the\n"
    "trust file as the only authority, loaded first), completes the handshake\n"
    "whether or not the chain verifies, and sends nothing. Prints the TLS version\n"
    "and cipher, each certificate the server presented and each of the trust\n"
    "file, whether each presented issuer's key is in the trust file, whether the\n"
    "chain verifies (else the error and its depth), then the result\n"
    "iSSL_SendThenRecv would give (0, -6, -8, -9, -12 or -17) and what would fix it.\n"
    "Key SHA-256: of the certificate's DER SubjectPublicKeyInfo. Connecting and\n"
    "the handshake together may take --timeout seconds (the library's exchange\n"
    "has no such limit): a server slower than that gets no verdict. In JSON,\n"
    "bytes that are not UTF-8 are written as \\xHH.\n"
    "Environment: DVKC_HOST, DVKC_PORT and DVKC_TRUST stand in for the options.\n\n"
    "Exit status:\n"
    "  0  the exchange would succeed\n"
    "  2  bad command line\n"
    "  3  the trust file cannot be loaded (-6)\n"
    "  4  the exchange would fail (-8, -9, -12, -13 or -17)\n"
    "  6  no verdict: connecting or the handshake took longer than --timeout\n"
    "  1  unexpected failure\n";

}  // namespace

void setup_check(CLI::App &app, ToolContext &tool)
{
    auto shared = std::make_shared<CheckOptions>();
    CheckOptions &options = *shared;
    CLI::App *command =
        app.add_subcommand("check", "Tell whether the library would trust a server, and why, sending nothing");
    add_endpoint_options(*command, options.endpoint, options.port, false);
    command
        ->add_option_function<std::string>(
            "--output", [&options](const std::string &format) { options.json = format == "json"; },
            "Output format: text or json (one object)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"text", "json"}))
        ->default_str("text");
    command->add_option("--timeout", options.timeout, "Seconds connecting and the handshake may take (0: no limit)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0L, 86400L))
        ->capture_default_str();
    command->footer(check_footer);
    command->callback([&tool, shared] { tool.status = run_check(*shared, tool.out, tool.err); });
}

int run_check(CheckOptions options, std::ostream &out, std::ostream &err)
{
    if (const std::string why = read_endpoint(options.endpoint, options.port, true); !why.empty()) {
        err << "dvkc: " << why << "\n";
        return exit_usage;
    }
    CheckReport report;
    report.host = options.endpoint.host;
    report.port = static_cast<std::uint16_t>(options.endpoint.port);
    report.trust_path = options.endpoint.trust_file;
    // The library loads the trust file before anything else: one that does
    // not load fails the exchange before any lookup or connection. It is
    // read more than once: a pipe is read once, into a copy.
    std::optional<InputFile> trust;
    try {
        trust.emplace(options.endpoint.trust_file, "trust file");
        report.trust = read_trust_file(trust->path(), options.endpoint.trust_file);
    } catch (const InputFileError &e) {
        report.trust.refusal = e.what();
    }
    if (report.trust.loaded) {
        report.seen = inspect_server(report.host, report.port, trust->path(), std::chrono::seconds(options.timeout));
    }
    report.verdict = judge(report.host, report.port, report.trust, report.seen, options.timeout);
    if (options.json) {
        write_check_json(out, report);
    } else {
        write_check_text(out, report);
    }
    out.flush();
    return verdict_exit_status(report.verdict);
}

}  // namespace dvkc::tool
