// A fresh directory under the temporary directory, removed with everything
// in it when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace dvkc::tool {

class ScratchDir {
public:
    // Creates "<tmp>/<prefix>XXXXXX" (mode 0700); throws std::system_error.
    explicit ScratchDir(const std::string &prefix);
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    ~ScratchDir();

    const std::filesystem::path &path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace dvkc::tool
