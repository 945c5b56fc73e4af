#include "unique_directory.h"

#include <windows.h>

#include <string>
#include <system_error>

namespace dvkc::sample {

std::filesystem::path make_unique_directory(std::string_view prefix)
{
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    const std::string stem = std::string(prefix) + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(::GetTickCount64() % 1000000) + "-";
    std::error_code error;
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::filesystem::path candidate = base / (stem + std::to_string(attempt));
        if (std::filesystem::create_directory(candidate, error)) {
            return candidate;
        }
    }
    throw std::system_error(error, "cannot create a temporary directory");
}

}  // namespace dvkc::sample
