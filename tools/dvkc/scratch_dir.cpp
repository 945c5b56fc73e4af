#include "scratch_dir.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace dvkc::tool {

ScratchDir::ScratchDir(const std::string &prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot create a temporary directory");
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace dvkc::tool
