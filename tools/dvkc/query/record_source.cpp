#include "query/record_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace dvkc::tool {
namespace {

// An unnamed file in the temporary directory, open for reading and writing.
int unnamed_temporary_file()
{
    std::error_code ignored;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ignored);
    if (dir.empty()) {
        dir = "/tmp";
    }
    std::string name = (dir / "dvkc-records-XXXXXX").string();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot spool standard input in " + dir.string() + ": " +
                                 std::generic_category().message(errno));
    }
    ::unlink(name.c_str());
    return fd;
}

// Copies `in` to `fd` whole.
void spool(std::istream &in, int fd)
{
    std::vector<char> block(1 << 16);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const char *data = block.data();
        auto left = static_cast<std::size_t>(in.gcount());
        while (left > 0) {
            const ssize_t n = ::write(fd, data, left);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                throw std::runtime_error("cannot spool standard input: " + std::generic_category().message(errno));
            }
            data += n;
            left -= static_cast<std::size_t>(n);
        }
    }
}

}  // namespace

RecordSource::RecordSource(const std::string &path, std::istream &in) : path_(path)
{
    if (path == "-") {
        spool_ = unnamed_temporary_file();
        spool(in, spool_);
        path_ = "/proc/self/fd/" + std::to_string(spool_);
    }
    std::ifstream first(path_, std::ios::binary);
    if (!first) {
        throw std::runtime_error("cannot read " + path);
    }
    check(first);
}

RecordSource::~RecordSource()
{
    if (spool_ >= 0) {
        ::close(spool_);
    }
}

void RecordSource::check(std::istream &in)
{
    RecordReader reader(in);
    InputRecord record;
    LineError rejected;
    for (RecordReader::Step step = reader.next(record, rejected); step != RecordReader::Step::end;
         step = reader.next(record, rejected)) {
        if (step == RecordReader::Step::rejected) {
            if (errors_.size() < errors_kept) {
                errors_.push_back(std::move(rejected));
            }
            ++rejected_;
            continue;
        }
        ++records_;
        sn_width_ = std::max(sn_width_, record.sn.size());
        ssid_width_ = std::max(ssid_width_, record.ssid.size());
    }
}

std::vector<InputRecord> RecordSource::next(std::size_t count)
{
    const std::lock_guard lock(mutex_);
    if (!reader_) {
        second_ = std::make_unique<std::ifstream>(path_, std::ios::binary);
        reader_ = std::make_unique<RecordReader>(*second_);
    }
    std::vector<InputRecord> batch;
    batch.reserve(count);
    InputRecord record;
    LineError rejected;
    while (batch.size() < count && reader_->next(record, rejected) == RecordReader::Step::record) {
        batch.push_back(std::move(record));
    }
    return batch;
}

}  // namespace dvkc::tool
