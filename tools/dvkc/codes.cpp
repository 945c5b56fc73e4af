#include "codes.h"

#include <algorithm>
#include <iomanip>
#include <string>
#include <string_view>

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

}  // namespace

bool write_codes(std::ostream &out, const std::vector<std::int32_t> &only, bool markdown)
{
    const auto wanted = [&](std::int32_t code) {
        return only.empty() || std::find(only.begin(), only.end(), code) != only.end();
    };
    bool all_known = true;
    for (const std::int32_t code : only) {
        const bool known = std::any_of(std::begin(dvkc::result_table), std::end(dvkc::result_table),
                                       [code](const dvkc::ResultInfo &info) { return info.code == code; });
        all_known = all_known && known;
    }
    if (markdown) {
        out << "| Function | Result | Meaning |\n|---|---:|---|\n";
    }
    for (const dvkc::ResultInfo &info : dvkc::result_table) {
        if (!wanted(info.code)) {
            continue;
        }
        if (markdown) {
            out << "| `" << dvkc::call_name(info.call) << "` | " << info.code << " | " << markdown_text(info.words)
                << " |\n";
        } else {
            out << std::left << std::setw(22) << dvkc::call_name(info.call) << std::right << std::setw(5) << info.code
                << "  " << info.words << "\n";
        }
    }
    return all_known;
}

std::vector<std::int32_t> unknown_codes(const std::vector<std::int32_t> &wanted)
{
    std::vector<std::int32_t> unknown;
    for (const std::int32_t code : wanted) {
        if (std::none_of(std::begin(dvkc::result_table), std::end(dvkc::result_table),
                         [code](const dvkc::ResultInfo &info) { return info.code == code; })) {
            unknown.push_back(code);
        }
    }
    return unknown;
}

}  // namespace dvkc::tool
