#include "query/record_source.h"

#include <algorithm>
#include <stdexcept>

namespace dvkc::tool {

RecordSource::RecordSource(const std::string &path, std::istream &in) : file_(path, "records file", &in)
{
    std::ifstream first(file_.path(), std::ios::binary);
    if (!first) {
        throw std::runtime_error("cannot read " + path);
    }
    check(first);
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
        second_ = std::make_unique<std::ifstream>(file_.path(), std::ios::binary);
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
