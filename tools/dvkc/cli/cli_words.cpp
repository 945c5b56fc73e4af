#include "cli/cli_words.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <numeric>

namespace dvkc::tool {
namespace {

std::size_t edit_distance(std::string_view a, std::string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// Every long option of every subcommand, "--" included.
std::vector<std::string> long_options(const CLI::App &app)
{
    std::vector<std::string> options;
    for (const CLI::App *command : app.get_subcommands({})) {
        for (const CLI::Option *option : command->get_options()) {
            for (const std::string &name : option->get_lnames()) {
                options.push_back("--" + name);
            }
        }
    }
    return options;
}

std::string suggestion_for(const std::string &word, const std::vector<std::string> &options)
{
    if (word.rfind("--", 0) != 0) {
        return {};
    }
    return closest_word(word.substr(0, word.find('=')), options);
}

}  // namespace

std::string closest_word(std::string_view word, const std::vector<std::string> &candidates)
{
    std::string best;
    std::size_t best_distance = 3;
    for (const std::string &candidate : candidates) {
        const std::size_t distance = edit_distance(word, candidate);
        if (distance < best_distance && distance * 2 < std::max(word.size(), candidate.size())) {
            best = candidate;
            best_distance = distance;
        }
    }
    return best;
}

std::string failure_message(const CLI::App *app, const CLI::Error &error)
{
    std::string text = std::string("dvkc: ") + error.what();
    if (dynamic_cast<const CLI::ExtrasError *>(&error) != nullptr) {
        const std::vector<std::string> options = long_options(*app);
        const std::string what = error.what();
        const std::size_t from = what.find(": ");
        std::string word;
        for (std::size_t i = from == std::string::npos ? what.size() : from + 2; i <= what.size(); ++i) {
            if (i < what.size() && what[i] != ' ') {
                word += what[i];
                continue;
            }
            if (const std::string suggestion = suggestion_for(word, options); !suggestion.empty()) {
                text.append("\ndvkc: did you mean ").append(suggestion).append(" (for ").append(word).append(")?");
            }
            word.clear();
        }
    }
    return text + "\ndvkc: run with --help for more information\n";
}

bool unknown_subcommand(const CLI::App &app, int argc, char **argv, std::ostream &err)
{
    if (argc < 2 || argv[1][0] == '-') {
        return false;
    }
    const std::string word = argv[1];
    std::vector<std::string> names;
    for (const CLI::App *command : app.get_subcommands({})) {
        if (command->get_name() == word) {
            return false;
        }
        names.push_back(command->get_name());
    }
    err << "dvkc: '" << word << "' is not a dvkc command";
    if (const std::string suggestion = closest_word(word, names); !suggestion.empty()) {
        err << "; did you mean '" << suggestion << "'?";
    }
    err << "\ndvkc: the commands are";
    for (std::size_t i = 0; i < names.size(); ++i) {
        err << (i == 0 ? " " : i + 1 == names.size() ? " and " : ", ") << names[i];
    }
    err << "; see dvkc --help\n";
    return true;
}

bool unknown_options(const CLI::App &app, std::ostream &err)
{
    const std::vector<std::string> options = long_options(app);
    bool found = false;
    for (const std::string &word : app.remaining(true)) {
        if (word.size() < 2 || word[0] != '-' || (word[1] >= '0' && word[1] <= '9')) {
            continue;
        }
        err << "dvkc: unknown option " << word;
        if (const std::string suggestion = suggestion_for(word, options); !suggestion.empty()) {
            err << "; did you mean " << suggestion << "?";
        }
        err << "\n";
        found = true;
    }
    if (found) {
        err << "dvkc: run with --help for more information\n";
    }
    return found;
}

}  // namespace dvkc::tool
