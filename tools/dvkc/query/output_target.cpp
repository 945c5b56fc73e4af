#include "query/output_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <string>
#include <system_error>

namespace dvkc::tool {
namespace {

std::string errno_text()
{
    return std::generic_category().message(errno);
}

// The descriptor of this process that `link` names (/proc/self/fd/N,
// /dev/fd/N, /proc/PID/fd/N), or -1.
int own_descriptor(const std::string &link)
{
    const std::string ours = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (const std::string &prefix : {std::string("/proc/self/fd/"), std::string("/dev/fd/"), ours}) {
        if (link.rfind(prefix, 0) == 0) {
            int fd = -1;
            const char *first = link.data() + prefix.size();
            const char *last = link.data() + link.size();
            const auto [end, ec] = std::from_chars(first, last, fd);
            return ec == std::errc{} && end == last ? fd : -1;
        }
    }
    return -1;
}

// Follows the symbolic links of `path` one at a time. Sets `fd` when one
// of them is one of our own descriptors.
std::string follow_links(std::string path, int &fd)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return path;
        }
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) {
            return path;
        }
        path = (target.is_absolute() ? target : std::filesystem::path(path).parent_path() / target).string();
        if ((fd = own_descriptor(path)) >= 0) {
            return path;
        }
    }
    return path;
}

}  // namespace

OutputTarget::OutputTarget(const std::string &file, std::ostream &stream) : name_(file)
{
    if (file.empty() || file == "-") {
        stream_ = &stream;
        name_ = "standard output";
        terminal_ = ::isatty(STDOUT_FILENO) == 1;
        return;
    }
    int own = own_descriptor(file);
    const std::string path = own >= 0 ? file : follow_links(file, own);
    if (own >= 0) {
        fd_ = ::fcntl(own, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0) {
            error_ = errno_text();
        }
        terminal_ = fd_ >= 0 && ::isatty(fd_) == 1;
        return;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        open_direct(path);
    } else {
        open_replacement(path);
    }
}

// A device or a FIFO (/dev/null, /dev/tty): written to as it is.
void OutputTarget::open_direct(const std::string &path)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
        error_ = errno_text();
        return;
    }
    terminal_ = ::isatty(fd_) == 1;
}

// A temporary file in the target's directory (so that the rename is
// atomic), with the mode of the file it replaces, else as a new file would
// be made (the umask applies).
void OutputTarget::open_replacement(const std::string &path)
{
    const std::filesystem::path target(path);
    const std::filesystem::path dir = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno_text();
        return;
    }
    temp_ = temp;
    final_ = path;
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) {
        // The owner is kept when we may; an ordinary user may not give a file
        // away, and the copy then stays the user's own.
        [[maybe_unused]] const int owner_kept = ::fchown(fd_, old.st_uid, old.st_gid);
        ::fchmod(fd_, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
    }
}

OutputTarget::~OutputTarget()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
    }
}

bool OutputTarget::write(std::string_view text)
{
    if (!ok()) {
        return false;
    }
    if (stream_ != nullptr) {
        errno = 0;
        stream_->write(text.data(), static_cast<std::streamsize>(text.size()));
        stream_->flush();
        if (!*stream_) {
            error_ = errno != 0 ? errno_text() : "write failed";
            return false;
        }
        return true;
    }
    while (!text.empty()) {
        const ssize_t n = ::write(fd_, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error_ = n < 0 ? errno_text() : "write failed";
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool OutputTarget::commit()
{
    if (!ok() || temp_.empty()) {
        return ok();
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        error_ = errno_text();
        return false;
    }
    if (::rename(temp_.c_str(), final_.c_str()) != 0) {
        error_ = errno_text();
        return false;
    }
    temp_.clear();
    return true;
}

void OutputTarget::fail(const std::string &why)
{
    if (error_.empty()) {
        error_ = why;
    }
}

TargetBuffer::TargetBuffer(OutputTarget &target) : target_(target), block_(std::size_t{1} << 16)
{
    setp(block_.data(), block_.data() + block_.size());
}

bool TargetBuffer::write_block()
{
    const std::string_view text(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(block_.data(), block_.data() + block_.size());
    return text.empty() || target_.write(text);
}

TargetBuffer::int_type TargetBuffer::overflow(int_type c)
{
    if (!write_block()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int TargetBuffer::sync()
{
    return write_block() ? 0 : -1;
}

}  // namespace dvkc::tool
