#include "codes/codes.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iomanip>
#include <memory>
#include <string>
#include <string_view>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "dvkc.hpp"

namespace dvkc::tool {
namespace {

// Angle brackets would be taken for HTML in Markdown.
std::string markdown_text(std::string_view words)
{
    std::string text;
    for (const char c : words) {
        text += c == '<' ? std::string("&lt;") : c == '>' ? std::string("&gt;") : std::string(1, c);
    }
    return text;
}

bool known(std::int32_t code)
{
    return std::any_of(std::begin(dvkc::result_table), std::end(dvkc::result_table),
                       [code](const dvkc::ResultInfo &info) { return info.code == code; });
}

}  // namespace

int run_codes(const CodesOptions &options, std::ostream &out, std::ostream &err)
{
    const auto wanted = [&](std::int32_t code) {
        return options.wanted.empty() ||
               std::find(options.wanted.begin(), options.wanted.end(), code) != options.wanted.end();
    };
    if (options.markdown) {
        out << "| Function | Result | Meaning |\n|---|---:|---|\n";
    }
    for (const dvkc::ResultInfo &info : dvkc::result_table) {
        if (!wanted(info.code)) {
            continue;
        }
        if (options.markdown) {
            out << "| `" << dvkc::call_name(info.call) << "` | " << info.code << " | " << markdown_text(info.words)
                << " |\n";
        } else {
            out << std::left << std::setw(22) << dvkc::call_name(info.call) << std::right << std::setw(5) << info.code
                << "  " << info.words << "\n";
        }
    }
    int status = exit_ok;
    for (const std::int32_t code : options.wanted) {
        if (!known(code)) {
            err << "dvkc: " << code << " is no result of any call (see dvkc codes)\n";
            status = exit_usage;
        }
    }
    return status;
}

void setup_codes(CLI::App &app, ToolContext &tool)
{
    auto codes = std::make_shared<CodesOptions>();
    CLI::App *command = app.add_subcommand("codes", "Explain the library's result codes");
    command->add_option("code", codes->wanted, "Codes to explain (default: all)")
        ->type_name("CODE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_flag("--markdown", codes->markdown, "Print a Markdown table");
    command->footer(exit_status_help);
    command->callback([&tool, codes] { tool.status = run_codes(*codes, tool.out, tool.err); });
}

}  // namespace dvkc::tool
