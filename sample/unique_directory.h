// A new directory with a unique name, one implementation per platform
// (posix/ and windows/ beside this file; CMake picks one).
#pragma once

#include <filesystem>
#include <string_view>

namespace dvkc::sample {

// Makes "<system temporary directory>/<prefix><unique part>", readable by
// its owner only where the platform has modes; throws std::system_error.
std::filesystem::path make_unique_directory(std::string_view prefix);

}  // namespace dvkc::sample
