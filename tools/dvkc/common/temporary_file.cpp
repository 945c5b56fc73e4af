#include "common/temporary_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace dvkc::tool {

std::string temporary_directory()
{
    std::error_code ignored;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(ignored);
    return dir.empty() ? std::string("/tmp") : dir.string();
}

int unnamed_temporary_file()
{
    std::string name = (std::filesystem::path(temporary_directory()) / "dvkc-XXXXXX").string();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::unlink(name.c_str());
    }
    return fd;
}

}  // namespace dvkc::tool
