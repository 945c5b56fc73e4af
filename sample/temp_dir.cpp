#include "temp_dir.h"

#include <fstream>
#include <stdexcept>
#include <system_error>

#include "unique_directory.h"

namespace dvkc::sample {

TempDir::TempDir(std::string_view prefix)
{
    path_ = make_unique_directory(prefix);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write_file(std::string_view name, std::string_view content) const
{
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
    return file.string();
}

}  // namespace dvkc::sample
