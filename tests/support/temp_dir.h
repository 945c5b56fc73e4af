// A temporary directory removed with its contents when the object goes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace dvkc::test {

class TempDir {
public:
    TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir();

    const std::filesystem::path &path() const noexcept { return path_; }

    // Writes `content` to a file of that name inside the directory; returns its path.
    std::string write_file(std::string_view name, std::string_view content) const;

private:
    std::filesystem::path path_;
};

}  // namespace dvkc::test
