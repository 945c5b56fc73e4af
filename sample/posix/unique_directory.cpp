#include "unique_directory.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace dvkc::sample {

std::filesystem::path make_unique_directory(std::string_view prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot create a temporary directory");
    }
    return pattern;
}

}  // namespace dvkc::sample
