// dvkc: try a query, run the sample service or the demo, look up a result.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "codes.h"
#include "demo.h"
#include "exit_status.h"
#include "query.h"
#include "serve.h"

#ifndef DVKC_TOOL_VERSION
#define DVKC_TOOL_VERSION "unknown"
#endif

namespace {

using namespace dvkc::tool;

constexpr const char *query_footer =
    "Records: CSV lines SN,SSID (optional header SN,SSID; quoted fields allowed).\n"
    "An SN of more than 16 or an SSID of more than 10 characters, an empty one,\n"
    "or one holding a comma, quote or control character is rejected with its\n"
    "line number before anything is sent.\n"
    "Batches: more than --batch-size records are sent as several queries (batch k,\n"
    "counted from 0, uses the seed modifier N+k); the output keeps input order.\n"
    "--sign-command runs CMD through /bin/sh with the request document on its\n"
    "standard input; its standard output, one trailing newline removed, is the\n"
    "signature. Result codes are explained by `dvkc codes`.\n";

}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"dvkc: command-line companion of the DVK client library", "dvkc"};
    app.set_version_flag("--version", std::string("dvkc ") + DVKC_TOOL_VERSION);
    app.require_subcommand(1);
    app.footer(exit_status_help);

    // ---- query
    QueryOptions query;
    int port = 443;
    std::string output = "table";
    std::string signature_text, signature_file, sign_command;
    query.seed = static_cast<std::int32_t>(::getpid());
    CLI::App *query_cmd = app.add_subcommand("query", "Send a query and print one code per record");
    query_cmd->add_option("--host", query.endpoint.host, "Service host name or dotted IPv4 address")->type_name("HOST");
    query_cmd->add_option("--port", port, "Service TCP port")->type_name("PORT")->check(CLI::Range(1, 65535))->capture_default_str();
    query_cmd->add_option("--path", query.endpoint.path, "URL path")->type_name("PATH")->capture_default_str();
    query_cmd->add_option("--trust", query.endpoint.trust_file, "PEM certificates that authenticate the service")->type_name("FILE");
    query_cmd->add_option("--identity", query.identity_file, "Identity file (its SHA-1 is the ClientID)")->type_name("FILE")->required();
    query_cmd->add_option("--records", query.records_file, "CSV file of SN,SSID records, or - for standard input")->type_name("FILE|-")
        ->required();
    CLI::Option_group *signature = query_cmd->add_option_group("signature", "Exactly one signature source");
    signature->add_option("--signature", signature_text, "The signature text")->type_name("TEXT");
    signature->add_option("--signature-file", signature_file, "A file holding the signature")->type_name("FILE");
    signature->add_option("--sign-command", sign_command, "Shell command: reads the document, prints the signature")->type_name("CMD");
    signature->require_option(1);
    query_cmd->add_option("--seed", query.seed, "Seed modifier of the nonce (default: the process id)")->type_name("N");
    query_cmd->add_option("--output", output, "Output format")->type_name("FORMAT")
        ->check(CLI::IsMember({"table", "json", "csv"}))
        ->capture_default_str();
    query_cmd->add_flag("--dry-run", query.dry_run, "Print the document and the envelope; send nothing");
    query_cmd->add_flag("-v,--verbose", query.verbose,
                        "On failure also print the answer's status line and first 2 KB");
    query_cmd->add_option("--batch-size", query.batch_size, "Records per query")->type_name("N")
        ->check(CLI::Range(1, 1000))
        ->capture_default_str();
    query_cmd->add_option("--jobs", query.jobs, "Batches sent at once")->type_name("N")->check(CLI::Range(1, 64))->capture_default_str();
    query_cmd->footer(std::string(query_footer) + "\n" + exit_status_help);

    // ---- serve
    ServeOptions serve;
    std::int32_t error_number = 0;
    CLI::App *serve_cmd = app.add_subcommand("serve", "Run the sample service (HTTPS, loopback by default)");
    serve_cmd->add_option("--listen", serve.listen, "Dotted IPv4 address and port (port 0: any free port)")->type_name("ADDRESS:PORT")
        ->capture_default_str();
    CLI::Option *cert = serve_cmd->add_option("--cert", serve.cert, "The service's certificate (PEM)")->type_name("FILE");
    serve_cmd->add_option("--key", serve.key, "The certificate's private key (PEM)")->type_name("FILE")->needs(cert);
    serve_cmd->add_option("--chain", serve.chain, "Issuer certificates to present after it (PEM)")->type_name("FILE")->needs(cert);
    serve_cmd->add_option("--pki-dir", serve.pki_dir, "Make a throwaway PKI in this directory and keep it")->type_name("DIR")
        ->excludes(cert);
    serve_cmd->add_option("--codes", serve.codes_file, "CSV file of SN,Code answers")->type_name("FILE");
    CLI::Option *error_opt =
        serve_cmd->add_option("--error", error_number, "Answer every query with this service error number (ErrID)")->type_name("N");
    serve_cmd->footer(std::string("Without --cert a throwaway PKI is made (in --pki-dir, or a temporary\n"
                                  "directory removed on exit) and the clients' trust file is printed.\n"
                                  "A record's code comes from --codes, else it is the sum of its SN's bytes\n"
                                  "modulo 1000. One log line per request: time, peer, records, result.\n"
                                  "Malformed requests are answered with HTTP 400.\n\n") +
                      exit_status_help);

    // ---- demo
    CLI::App *demo_cmd = app.add_subcommand(
        "demo", "Query a sample service on this machine with throwaway certificates and print the table");
    demo_cmd->footer(exit_status_help);

    // ---- codes
    std::vector<std::int32_t> wanted;
    bool markdown = false;
    CLI::App *codes_cmd = app.add_subcommand("codes", "Explain the library's result codes");
    codes_cmd->add_option("code", wanted, "Codes to explain (default: all); put -- before negative ones")->type_name("CODE");
    codes_cmd->add_flag("--markdown", markdown, "Print a Markdown table");
    codes_cmd->footer(exit_status_help);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int status = app.exit(e);
        return status == 0 ? exit_ok : exit_usage;
    }

    try {
        if (query_cmd->parsed()) {
            query.endpoint.port = port;
            query.output = output == "json" ? OutputFormat::json : output == "csv" ? OutputFormat::csv : OutputFormat::table;
            if (signature->get_option("--signature-file")->count() > 0) {
                query.signature_kind = QueryOptions::SignatureKind::file;
                query.signature = signature_file;
            } else if (signature->get_option("--sign-command")->count() > 0) {
                query.signature_kind = QueryOptions::SignatureKind::command;
                query.signature = sign_command;
            } else {
                query.signature_kind = QueryOptions::SignatureKind::text;
                query.signature = signature_text;
            }
            query.progress = ::isatty(STDERR_FILENO) == 1;
            return run_query(query, std::cin, std::cout, std::cerr);
        }
        if (serve_cmd->parsed()) {
            if (error_opt->count() > 0) {
                serve.error = error_number;
            }
            return run_serve(serve, std::cout, std::cerr);
        }
        if (demo_cmd->parsed()) {
            return run_demo(std::cout, std::cerr);
        }
        if (codes_cmd->parsed()) {
            if (!write_codes(std::cout, wanted, markdown)) {
                std::cerr << "dvkc: some of those codes are no result of any call\n";
                return exit_usage;
            }
            return exit_ok;
        }
    } catch (const std::exception &e) {
        std::cerr << "dvkc: " << e.what() << "\n";
        return exit_internal;
    }
    return exit_usage;
}
