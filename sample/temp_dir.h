// A fresh directory under the temporary directory (mode 0700), removed with
// everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace dvkc::sample {

class TempDir {
public:
    // Creates "<tmp>/<prefix>XXXXXX"; throws std::system_error.
    explicit TempDir(std::string_view prefix = "dvkc-");
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir();

    const std::filesystem::path &path() const noexcept { return path_; }

    // Writes `content` to a file of that name inside the directory; returns
    // its path. Throws std::runtime_error.
    std::string write_file(std::string_view name, std::string_view content) const;

private:
    std::filesystem::path path_;
};

}  // namespace dvkc::sample
