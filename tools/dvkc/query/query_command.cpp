// setup_query: `dvkc query` on the command line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <map>
#include <memory>
#include <string>

#include "cli/command.h"
#include "cli/endpoint_options.h"
#include "cli/exit_status.h"
#include "dvkc.h"
#include "query/query.h"

namespace dvkc::tool {
namespace {

std::string query_footer()
{
    return "Records: CSV lines SN,SSID (optional header SN,SSID; quoted fields allowed;\n"
           "a UTF-8 byte-order mark at the start is skipped). An SN of more than " +
           std::to_string(DVKC_SN_MAX) + " or an SSID of\nmore than " + std::to_string(DVKC_SSID_MAX) +
           " bytes, an empty one, one that is not valid UTF-8, or one holding\n"
           "a comma, quote, control character, '<', '>' or '&' is rejected with its line\n"
           "number before anything is sent, as is a line longer than 4096 bytes; so are\n"
           "a trust file without a PEM certificate, a directory, and an empty signature.\n"
           "Batches: more than --batch-size records are sent as several queries (batch k,\n"
           "counted from 0, uses the seed modifier N+k; retry r of it N+k+r*batches; a\n"
           "modifier that would make the nonce independent of the time is skipped, and\n"
           "no nonce is sent twice in one run). Each batch is printed as soon as the\n"
           "batches before it are, in input order.\n"
           "--sign-command runs CMD through /bin/sh with the request document on its\n"
           "standard input; its standard output, one trailing newline removed, is the\n"
           "signature. Exchanges run in one helper process per worker, each stopped\n"
           "and replaced when an exchange runs past --timeout.\n"
           "--retry repeats a batch whose exchange failed, broke off or timed out (not\n"
           "one the service answered), waiting 1, 2, 4 ... s (at most 30 s) in between.\n"
           "A failure every batch would meet (no such host, nothing listening, the\n"
           "service not trusted, no sign command) stops the run after that batch,\n"
           "unless a batch was answered before it.\n"
           "Ctrl-C or SIGTERM: no further batch is sent, the sign commands and exchanges\n"
           "under way are stopped, the finished batches are printed (the others as not\n"
           "answered); a second Ctrl-C ends at once.\n"
           "--output-file: replaced at the end only when a batch was answered; a device,\n"
           "FIFO or /dev/stdout is written directly; a symbolic link's target is replaced.\n"
           "More than one batch: a summary line on standard error (not with --quiet).\n"
           "Environment: DVKC_HOST, DVKC_PORT, DVKC_PATH, DVKC_TRUST and DVKC_IDENTITY\n"
           "stand in for the options of the same name when those are not given.\n"
           "Result codes are explained by `dvkc codes`.\n";
}

void add_input_options(CLI::App &command, QueryOptions &query)
{
    command.add_option("--identity", query.batch.identity_file, "Identity file (its SHA-1 is the ClientID)")
        ->type_name("FILE")
        ->required()
        ->envname("DVKC_IDENTITY");
    command.add_option("--records", query.records_file, "CSV file of SN,SSID records, or - for standard input")
        ->type_name("FILE|-")
        ->required();
    CLI::Option_group *signature = command.add_option_group("signature", "Exactly one signature source");
    const auto kind = [&query](QueryOptions::SignatureKind which) {
        return [&query, which](const std::string &) { query.signature_kind = which; };
    };
    signature->add_option("--signature", query.signature, "The signature text")
        ->type_name("TEXT")
        ->each(kind(QueryOptions::SignatureKind::text));
    signature->add_option("--signature-file", query.signature, "A file holding the signature")
        ->type_name("FILE")
        ->each(kind(QueryOptions::SignatureKind::file));
    signature->add_option("--sign-command", query.signature, "Shell command: reads the document, prints the signature")
        ->type_name("CMD")
        ->each(kind(QueryOptions::SignatureKind::command));
    signature->require_option(1);
    command.add_option("--seed", query.seed, "Seed modifier of the nonce (default: the process id)")
        ->type_name("N")
        ->each([&query](const std::string &) { query.seed_given = true; });
}

void add_output_options(CLI::App &command, QueryOptions &query)
{
    const std::map<std::string, OutputFormat> formats{{"table", OutputFormat::table},
                                                      {"csv", OutputFormat::csv},
                                                      {"json", OutputFormat::json},
                                                      {"jsonl", OutputFormat::jsonl}};
    command.add_option("--output", query.output, "Output format: table, csv, json or jsonl (one object a line)")
        ->type_name("FORMAT")
        ->transform(CLI::CheckedTransformer(formats).description(""))
        ->default_str("table");
    command.add_option("-o,--output-file", query.output_file, "Write the output here; - is standard output")
        ->type_name("FILE|-");
    command.add_flag("--dry-run", query.dry_run, "Print the documents and envelopes; send nothing");
    command.add_flag("-v,--verbose", query.verbose, "On failure also print the answer's status line and first 2 KB");
    command.add_flag("-q,--quiet", query.quiet, "Neither the progress bar nor the summary line");
}

void add_run_options(CLI::App &command, QueryOptions &query, bool &no_progress)
{
    command.add_option("--batch-size", query.batch_size, "Records per query")
        ->type_name("N")
        ->check(CLI::Range(1, DVKC_MAX_RECORDS))
        ->capture_default_str();
    command.add_option("--jobs", query.jobs, "Batches sent at once")
        ->type_name("N")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    command.add_option("--timeout", query.batch.timeout, "Seconds each exchange may take (0: no limit)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0L, 86400L))
        ->capture_default_str();
    command.add_option("--sign-timeout", query.sign_timeout, "Seconds each sign command may take (0: no limit)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0L, 86400L))
        ->capture_default_str();
    command.add_option("--retry", query.batch.retry, "Attempts more for a batch whose exchange failed")
        ->type_name("N")
        ->check(CLI::Range(0U, 100U))
        ->capture_default_str();
    command.add_flag("--fail-fast", query.fail_fast, "Send no further batch after the first failure");
    command.add_flag("--no-progress", no_progress, "No progress bar");
}

}  // namespace

void setup_query(CLI::App &app, ToolContext &tool)
{
    auto query = std::make_shared<QueryOptions>();
    auto no_progress = std::make_shared<bool>(false);
    query->seed = static_cast<std::int32_t>(::getpid());
    CLI::App *command = app.add_subcommand("query", "Send a query and print one code per record");
    add_endpoint_options(*command, query->batch.endpoint, query->port, true);
    add_input_options(*command, *query);
    add_output_options(*command, *query);
    add_run_options(*command, *query, *no_progress);
    command->footer(query_footer() + "\n" + exit_status_help);
    command->callback([&tool, query, no_progress] {
        query->progress = !*no_progress && ::isatty(STDERR_FILENO) == 1;
        query->batch.helper = tool.program;
        tool.status = run_query(*query, tool.in, tool.out, tool.err);
    });
}

}  // namespace dvkc::tool
