// dvkc: the hidden entries of the tool's own helper processes first, then
// the subcommands of cli/command.h.
#include <openssl/crypto.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "batch/exchange_helper.h"
#include "batch/sign_guard.h"
#include "cli/cli_words.h"
#include "cli/command.h"
#include "cli/exit_status.h"

#ifndef DVKC_TOOL_VERSION
#define DVKC_TOOL_VERSION "unknown"
#endif

namespace {

using namespace dvkc::tool;

int run_tool(int argc, char **argv)
{
    if (argc >= 2 && argv[1] == exchange_helper_flag) {
        return exchange_helper_main(argc, argv);
    }
    if (argc >= 2 && argv[1] == sign_guard_flag) {
        return sign_guard_main(argc, argv);
    }
    CLI::App app{"dvkc: command-line companion of the DVK client library", "dvkc"};
    // The OpenSSL release loaded now, which the library's exchanges run with.
    app.set_version_flag("--version",
                         std::string("dvkc ") + DVKC_TOOL_VERSION + "\n" + OpenSSL_version(OPENSSL_VERSION));
    app.require_subcommand(1);
    app.footer(exit_status_help);
    app.failure_message(failure_message);
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    ToolContext tool{std::cin, std::cout, std::cerr, own_program()};
    for (const SetupCommand setup : subcommands) {
        setup(app, tool);
    }

    if (unknown_subcommand(app, argc, argv, std::cerr)) {
        return exit_usage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (unknown_options(app, std::cerr)) {
            return exit_usage;
        }
        const int status = app.exit(e);
        return status == 0 ? exit_ok : exit_usage;
    } catch (const std::exception &e) {
        std::cerr << "dvkc: " << e.what() << "\n";
        return exit_internal;
    }
    return tool.status;
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
