#include "common/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

#include "common/temporary_file.h"

namespace dvkc::tool {
namespace {

constexpr std::size_t block_size = 1 << 16;

std::string errno_text(int error)
{
    return std::generic_category().message(error);
}

// Closes a descriptor at the end of a scope unless released.
class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    FdCloser(const FdCloser &) = delete;
    FdCloser &operator=(const FdCloser &) = delete;
    ~FdCloser()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const noexcept { return fd_; }
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// An unnamed file of our own for a copy of `what`.
int copy_file(const std::string &what)
{
    const int fd = unnamed_temporary_file();
    if (fd < 0) {
        throw InputFileError("cannot copy the " + what + " to " + temporary_directory() + ": " + errno_text(errno));
    }
    return fd;
}

// "cannot read the records file r.csv: Broken pipe"
[[noreturn]] void refuse(const std::string &doing, const std::string &named, int error)
{
    throw InputFileError("cannot " + doing + " the " + named + ": " + errno_text(error));
}

void write_all(int fd, const char *data, std::size_t left, const std::string &what)
{
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw InputFileError("cannot copy the " + what + ": " + (n < 0 ? errno_text(errno) : "write failed"));
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Copies at most `keep` bytes of `in` to `to`.
void copy_stream(std::istream &in, int to, unsigned long long keep, const std::string &what)
{
    std::vector<char> block(block_size);
    while (in && keep > 0) {
        in.read(block.data(), static_cast<std::streamsize>(std::min<unsigned long long>(block.size(), keep)));
        const auto got = static_cast<std::size_t>(in.gcount());
        write_all(to, block.data(), got, what);
        keep -= got;
    }
    if (in.bad()) {
        throw InputFileError("cannot read the " + what);
    }
}

// Copies at most `keep` bytes read from `from` (the `named` file) to `to`.
void copy_descriptor(int from, int to, unsigned long long keep, const std::string &named)
{
    std::vector<char> block(block_size);
    while (keep > 0) {
        const ssize_t n = ::read(from, block.data(), std::min<unsigned long long>(block.size(), keep));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            refuse("read", named, errno);
        }
        if (n == 0) {
            return;
        }
        write_all(to, block.data(), static_cast<std::size_t>(n), named);
        keep -= static_cast<unsigned long long>(n);
    }
}

}  // namespace

InputFile::InputFile(const std::string &path, const std::string &what, std::istream *in, unsigned long long keep)
    : path_(path)
{
    if (path == "-" && in != nullptr) {
        FdCloser copy(copy_file("standard input"));
        copy_stream(*in, copy.get(), keep, "standard input");
        adopt(copy.release());
        return;
    }
    // One open only: a FIFO opened twice would wait for a second writer.
    FdCloser source(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    if (source.get() < 0 || ::fstat(source.get(), &info) != 0) {
        throw InputFileError("cannot read the " + what + " " + path + ": " + errno_text(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        throw InputFileError("the " + what + " " + path + " is a directory");
    }
    if (S_ISREG(info.st_mode)) {
        return;
    }
    const std::string named = what + " " + path;
    FdCloser copy(copy_file(named));
    copy_descriptor(source.get(), copy.get(), keep, named);
    adopt(copy.release());
}

InputFile::~InputFile()
{
    if (copy_ >= 0) {
        ::close(copy_);
    }
}

void InputFile::adopt(int copy)
{
    copy_ = copy;
    path_ = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(copy);
}

unsigned long long InputFile::size() const
{
    struct stat info {};
    const int status = copy_ >= 0 ? ::fstat(copy_, &info) : ::stat(path_.c_str(), &info);
    return status == 0 ? static_cast<unsigned long long>(info.st_size) : 0;
}

}  // namespace dvkc::tool
