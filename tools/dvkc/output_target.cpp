#include "output_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

namespace dvkc::tool {

OutputTarget::OutputTarget(const std::string &file, std::ostream &stream) : name_(file)
{
    if (file.empty() || file == "-") {
        out_ = &stream;
        name_ = "standard output";
        return;
    }
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        // A device or a pipe (/dev/null, a FIFO): written to as it is.
        file_.open(file, std::ios::binary | std::ios::out);
        if (!file_) {
            error_ = std::generic_category().message(errno);
        }
        out_ = &file_;
        return;
    }
    // Created as an ordinary new file would be (the umask applies), under a
    // name no one else uses, in the target's directory so that the rename is
    // atomic.
    const std::filesystem::path target(file);
    const std::string temp = ((target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path()) /
                              ("." + target.filename().string() + "." + std::to_string(::getpid()) + ".tmp"))
                                 .string();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error_ = std::generic_category().message(errno);
        return;
    }
    ::close(fd);
    temp_ = temp;
    file_.open(temp_, std::ios::binary | std::ios::trunc);
    if (!file_) {
        error_ = std::generic_category().message(errno);
    }
    out_ = &file_;
}

OutputTarget::~OutputTarget()
{
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
    }
}

bool OutputTarget::write(std::string_view text)
{
    if (!ok()) {
        return false;
    }
    errno = 0;
    out_->write(text.data(), static_cast<std::streamsize>(text.size()));
    out_->flush();
    if (!*out_) {
        error_ = errno != 0 ? std::generic_category().message(errno) : "write failed";
        return false;
    }
    return true;
}

bool OutputTarget::commit()
{
    if (!ok() || temp_.empty()) {
        return ok();
    }
    file_.close();
    if (!file_) {
        error_ = std::generic_category().message(errno);
        return false;
    }
    if (::rename(temp_.c_str(), name_.c_str()) != 0) {
        error_ = std::generic_category().message(errno);
        return false;
    }
    temp_.clear();
    return true;
}

}  // namespace dvkc::tool
