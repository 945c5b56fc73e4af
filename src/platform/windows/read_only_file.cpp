#include "platform/read_only_file.h"

namespace dvkc::platform {

std::FILE *open_for_reading(const char *path) noexcept
{
    return std::fopen(path, "rbN");  // b: no newline translation; N: not inherited
}

}  // namespace dvkc::platform
