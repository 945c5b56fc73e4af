// dvkc: try a query, run the sample service or the demo, look up a result.
#include <openssl/ssl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "check.h"
#include "cli_words.h"
#include "codes.h"
#include "demo.h"
#include "dvkc.h"
#include "exchange_helper.h"
#include "exit_status.h"
#include "query.h"
#include "serve.h"

#ifndef DVKC_TOOL_VERSION
#define DVKC_TOOL_VERSION "unknown"
#endif

namespace {

using namespace dvkc::tool;

// Made before main: a failed allocation here ends the tool at start, as it should.
const std::vector<std::string> subcommands = {"query", "serve", "demo", "codes", "check"};  // NOLINT(cert-err58-cpp)

const std::string query_footer =  // NOLINT(cert-err58-cpp): as above
    "Records: CSV lines SN,SSID (optional header SN,SSID; quoted fields allowed;\n"
    "a UTF-8 byte-order mark at the start is skipped). An SN of more than " +
    std::to_string(DVKC_SN_MAX) + " or an SSID of\nmore than " + std::to_string(DVKC_SSID_MAX) +
    " bytes, an empty one, one that is not valid UTF-8, or one holding\n"
    "a comma, quote, control character, '<', '>' or '&' is rejected with its line\n"
    "number before anything is sent; so are a trust file without a PEM\n"
    "certificate, a directory, and an empty signature.\n"
    "Batches: more than --batch-size records are sent as several queries (batch k,\n"
    "counted from 0, uses the seed modifier N+k; retry r of it N+k+r*batches).\n"
    "Each batch is printed as soon as the batches before it are, in input order.\n"
    "--sign-command runs CMD through /bin/sh with the request document on its\n"
    "standard input; its standard output, one trailing newline removed, is the\n"
    "signature. Each exchange runs in a helper process stopped after --timeout.\n"
    "--retry repeats a batch whose exchange failed or timed out (not one the\n"
    "service answered), waiting 1, 2, 4 ... s (at most 30 s) in between.\n"
    "Ctrl-C or SIGTERM: no further batch is sent, the sign commands and exchanges\n"
    "under way are stopped, the finished batches are printed (the others as not\n"
    "answered); a second Ctrl-C ends at once.\n"
    "More than one batch: a summary line on standard error (not with --quiet).\n"
    "Environment: DVKC_HOST, DVKC_PORT, DVKC_PATH, DVKC_TRUST and DVKC_IDENTITY\n"
    "stand in for the options of the same name when those are not given.\n"
    "Result codes are explained by `dvkc codes`.\n";

// "dvkc: " and CLI11's own words, and a suggestion for a mistyped option.
std::string failure_message(const CLI::App *app, const CLI::Error &error)
{
    std::string text = std::string("dvkc: ") + error.what();
    if (dynamic_cast<const CLI::ExtrasError *>(&error) != nullptr) {
        std::vector<std::string> options;
        for (const CLI::App *command : app->get_subcommands({})) {
            for (const CLI::Option *option : command->get_options()) {
                for (const std::string &name : option->get_lnames()) {
                    options.push_back("--" + name);
                }
            }
        }
        const std::string what = error.what();
        const std::size_t from = what.find(": ");
        std::string word;
        for (std::size_t i = from == std::string::npos ? what.size() : from + 2; i <= what.size(); ++i) {
            if (i == what.size() || what[i] == ' ') {
                const std::string suggestion =
                    word.rfind("--", 0) == 0 ? closest_word(word.substr(0, word.find('=')), options) : std::string();
                if (!suggestion.empty()) {
                    text.append("\ndvkc: did you mean ").append(suggestion).append(" (for ").append(word).append(")?");
                }
                word.clear();
            } else {
                word += what[i];
            }
        }
    }
    return text + "\ndvkc: run with --help for more information\n";
}

// A first word that is no subcommand: exit 2, with the closest one.
bool unknown_subcommand(int argc, char **argv)
{
    if (argc < 2 || argv[1][0] == '-') {
        return false;
    }
    const std::string word = argv[1];
    for (const std::string &name : subcommands) {
        if (word == name) {
            return false;
        }
    }
    std::cerr << "dvkc: '" << word << "' is not a dvkc command";
    if (const std::string suggestion = closest_word(word, subcommands); !suggestion.empty()) {
        std::cerr << "; did you mean '" << suggestion << "'?";
    }
    std::cerr << "\ndvkc: the commands are query, serve, demo, codes and check; see dvkc --help\n";
    return true;
}

int run_tool(int argc, char **argv)
{
    if (argc >= 2 && argv[1] == exchange_helper_flag) {
        return exchange_helper_main(argc, argv);
    }
    if (unknown_subcommand(argc, argv)) {
        return exit_usage;
    }

    CLI::App app{"dvkc: command-line companion of the DVK client library", "dvkc"};
    app.set_version_flag("--version", std::string("dvkc ") + DVKC_TOOL_VERSION);
    app.require_subcommand(1);
    app.footer(exit_status_help);
    app.failure_message(failure_message);

    // ---- query
    QueryOptions query;
    int port = 443;
    std::string output = "table";
    std::string signature_text, signature_file, sign_command;
    long timeout = 60;
    long sign_timeout = 30;
    bool no_progress = false;
    query.seed = static_cast<std::int32_t>(::getpid());
    CLI::App *query_cmd = app.add_subcommand("query", "Send a query and print one code per record");
    query_cmd->add_option("--host", query.endpoint.host, "Service host name or dotted IPv4 address")
        ->type_name("HOST")
        ->envname("DVKC_HOST");
    query_cmd->add_option("--port", port, "Service TCP port")
        ->type_name("PORT")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str()
        ->envname("DVKC_PORT");
    query_cmd->add_option("--path", query.endpoint.path, "URL path: starts with '/', no space or control character")
        ->type_name("PATH")
        ->capture_default_str()
        ->envname("DVKC_PATH");
    query_cmd->add_option("--trust", query.endpoint.trust_file, "PEM certificates that authenticate the service")
        ->type_name("FILE")
        ->envname("DVKC_TRUST");
    query_cmd->add_option("--identity", query.identity_file, "Identity file (its SHA-1 is the ClientID)")
        ->type_name("FILE")
        ->required()
        ->envname("DVKC_IDENTITY");
    query_cmd->add_option("--records", query.records_file, "CSV file of SN,SSID records, or - for standard input")
        ->type_name("FILE|-")
        ->required();
    CLI::Option_group *signature = query_cmd->add_option_group("signature", "Exactly one signature source");
    signature->add_option("--signature", signature_text, "The signature text")->type_name("TEXT");
    signature->add_option("--signature-file", signature_file, "A file holding the signature")->type_name("FILE");
    signature->add_option("--sign-command", sign_command, "Shell command: reads the document, prints the signature")
        ->type_name("CMD");
    signature->require_option(1);
    query_cmd->add_option("--seed", query.seed, "Seed modifier of the nonce (default: the process id)")->type_name("N");
    query_cmd->add_option("--output", output, "Output format: table, csv, json or jsonl (one object a line)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"table", "json", "jsonl", "csv"}))
        ->capture_default_str();
    query_cmd
        ->add_option("-o,--output-file", query.output_file,
                     "Write the output here (replaced whole at the end); - is standard output")
        ->type_name("FILE|-");
    query_cmd->add_flag("--dry-run", query.dry_run, "Print the documents and envelopes; send nothing");
    query_cmd->add_flag("-v,--verbose", query.verbose, "On failure also print the answer's status line and first 2 KB");
    query_cmd->add_option("--batch-size", query.batch_size, "Records per query")
        ->type_name("N")
        ->check(CLI::Range(1, DVKC_MAX_RECORDS))
        ->capture_default_str();
    query_cmd->add_option("--jobs", query.jobs, "Batches sent at once")
        ->type_name("N")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    query_cmd->add_option("--timeout", timeout, "Seconds each exchange may take (0: no limit)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0L, 86400L))
        ->capture_default_str();
    query_cmd->add_option("--sign-timeout", sign_timeout, "Seconds each sign command may take (0: no limit)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0L, 86400L))
        ->capture_default_str();
    query_cmd->add_option("--retry", query.retry, "Attempts more for a batch whose exchange failed")
        ->type_name("N")
        ->check(CLI::Range(0U, 100U))
        ->capture_default_str();
    query_cmd->add_flag("--fail-fast", query.fail_fast, "Send no further batch after the first failure");
    query_cmd->add_flag("-q,--quiet", query.quiet, "Neither the progress bar nor the summary line");
    query_cmd->add_flag("--no-progress", no_progress, "No progress bar");
    query_cmd->footer(query_footer + "\n" + exit_status_help);

    // ---- serve
    ServeOptions serve;
    std::int32_t error_number = 0;
    CLI::App *serve_cmd = app.add_subcommand("serve", "Run the sample service (HTTPS, loopback by default)");
    serve_cmd->add_option("--listen", serve.listen, "Dotted IPv4 address and port (port 0: any free port)")
        ->type_name("ADDRESS:PORT")
        ->capture_default_str();
    CLI::Option *cert =
        serve_cmd->add_option("--cert", serve.cert, "The service's certificate (PEM)")->type_name("FILE");
    serve_cmd->add_option("--key", serve.key, "The certificate's private key (PEM)")->type_name("FILE")->needs(cert);
    serve_cmd->add_option("--chain", serve.chain, "Issuer certificates to present after it (PEM)")
        ->type_name("FILE")
        ->needs(cert);
    serve_cmd->add_option("--pki-dir", serve.pki_dir, "Keep the sample PKI in this directory (reused when there)")
        ->type_name("DIR")
        ->excludes(cert);
    serve_cmd->add_option("--codes", serve.codes_file, "CSV file of SN,Code answers")->type_name("FILE");
    CLI::Option *error_opt =
        serve_cmd->add_option("--error", error_number, "Answer every query with this service error number (ErrID)")
            ->type_name("N");
    serve_cmd
        ->add_option_function<std::string>(
            "--tls-max",
            [&serve](const std::string &v) {
                serve.max_tls_version = v == "1.0"   ? TLS1_VERSION
                                        : v == "1.1" ? TLS1_1_VERSION
                                        : v == "1.2" ? TLS1_2_VERSION
                                                     : TLS1_3_VERSION;
            },
            "Highest TLS version offered: 1.0, 1.1, 1.2 or 1.3 (below 1.2 at security level 0)")
        ->type_name("VERSION")
        ->check(CLI::IsMember({"1.0", "1.1", "1.2", "1.3"}));
    serve_cmd->footer(std::string("Without --cert a sample PKI is made: in a temporary directory removed on\n"
                                  "exit, or in --pki-dir, where it is kept (certificates valid for a year,\n"
                                  "the key mode 0600) and reused by later runs; files already there are\n"
                                  "never overwritten. The clients' trust file is printed.\n"
                                  "A record's code comes from --codes, else it is the sum of its SN's bytes\n"
                                  "modulo 1000. One log line per request: time, peer, records, result.\n"
                                  "Malformed requests are answered with HTTP 400. A connection silent for\n"
                                  "30 s is closed. Stops on SIGINT, SIGTERM or SIGHUP.\n\n") +
                      exit_status_help);

    // ---- demo
    CLI::App *demo_cmd = app.add_subcommand(
        "demo", "Query a sample service on this machine with throwaway certificates and print the table");
    demo_cmd->footer(exit_status_help);

    // ---- codes
    std::vector<std::int32_t> wanted;
    bool markdown = false;
    CLI::App *codes_cmd = app.add_subcommand("codes", "Explain the library's result codes");
    codes_cmd->add_option("code", wanted, "Codes to explain (default: all); put -- before negative ones")
        ->type_name("CODE");
    codes_cmd->add_flag("--markdown", markdown, "Print a Markdown table");
    codes_cmd->footer(exit_status_help);

    // ---- check
    CheckOptions check;
    CLI::App *check_cmd = setup_check(app, check);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int status = app.exit(e);
        return status == 0 ? exit_ok : exit_usage;
    }

    try {
        if (query_cmd->parsed()) {
            query.endpoint.port = port;
            query.output = output == "json"    ? OutputFormat::json
                           : output == "jsonl" ? OutputFormat::jsonl
                           : output == "csv"   ? OutputFormat::csv
                                               : OutputFormat::table;
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
            query.timeout = std::chrono::seconds(timeout);
            query.sign_timeout = std::chrono::seconds(sign_timeout);
            query.progress = !no_progress && ::isatty(STDERR_FILENO) == 1;
            query.helper = own_program();
            return run_query(query, std::cin, std::cout, std::cerr);
        }
        if (serve_cmd->parsed()) {
            if (error_opt->count() > 0) {
                serve.error = error_number;
            }
            return run_serve(serve, std::cout, std::cerr);
        }
        if (demo_cmd->parsed()) {
            return run_demo(std::cout, std::cerr, own_program());
        }
        if (check_cmd->parsed()) {
            return run_check(check);
        }
        if (codes_cmd->parsed()) {
            const std::vector<std::int32_t> unknown = unknown_codes(wanted);
            for (const std::int32_t code : unknown) {
                std::cerr << "dvkc: " << code << " is no result of any call (see dvkc codes)\n";
            }
            if (!unknown.empty()) {
                return exit_usage;
            }
            write_codes(std::cout, wanted, markdown);
            return exit_ok;
        }
    } catch (const std::exception &e) {
        std::cerr << "dvkc: " << e.what() << "\n";
        return exit_internal;
    }
    return exit_usage;
}

}  // namespace

int main(int argc, char **argv)
{
    try {
        return run_tool(argc, argv);
    } catch (const std::exception &e) {
        // What run_tool does not catch itself: a failure while setting up the command line.
        static_cast<void>(std::fprintf(stderr, "dvkc: %s\n", e.what()));
    } catch (...) {
        static_cast<void>(std::fputs("dvkc: unexpected failure\n", stderr));
    }
    return exit_internal;
}
