// The subcommands of dvkc, listed once: main.cpp adds them in this order,
// the man page takes them from `dvkc --help`, and a test holds the bash
// completion (share/dvkc.bash) to them. Each setup_X adds subcommand X to
// the command line, binds its options to a struct of its own and, once
// parsed, runs it with run_X, leaving the exit status in the context.
#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace dvkc::tool {

struct ToolContext {
    std::istream &in;
    std::ostream &out;
    std::ostream &err;
    std::string program;  // this program's path, which runs the exchanges
    int status = 2;       // set by the subcommand that ran
};

void setup_query(CLI::App &app, ToolContext &tool);
void setup_serve(CLI::App &app, ToolContext &tool);
void setup_demo(CLI::App &app, ToolContext &tool);
void setup_codes(CLI::App &app, ToolContext &tool);
void setup_check(CLI::App &app, ToolContext &tool);

using SetupCommand = void (*)(CLI::App &, ToolContext &);

// Every subcommand, in the order --help lists them.
inline constexpr SetupCommand subcommands[] = {setup_query, setup_serve, setup_demo, setup_codes, setup_check};

}  // namespace dvkc::tool
