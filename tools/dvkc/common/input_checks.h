// Checks of the files a subcommand is given, made once before anything
// is sent. Each returns why the input cannot be used, or an empty text.
#pragma once

#include <string>

namespace dvkc::tool {

// A regular file that can be opened for reading: "the records file r.csv is
// a directory", "cannot read the trust file t.pem: No such file or directory".
std::string file_problem(const std::string &path, const std::string &what);

// file_problem(), and the file holds at least one PEM certificate. `shown`
// names it in the message (default: `path`), as when `path` is its copy.
std::string trust_file_problem(const std::string &path, const std::string &shown = {});

// The size of a readable file, or 0.
unsigned long long file_size(const std::string &path);

}  // namespace dvkc::tool
