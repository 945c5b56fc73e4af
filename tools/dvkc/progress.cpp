#include "progress.h"

namespace dvkc::tool {

ProgressBar::ProgressBar(std::ostream &err, std::size_t total, bool enabled)
    : err_(err), total_(total), enabled_(enabled)
{
    draw(0, 0);
}

ProgressBar::~ProgressBar()
{
    clear();
}

void ProgressBar::clear()
{
    if (enabled_) {
        err_ << '\r' << std::string(width + 50, ' ') << '\r' << std::flush;
    }
}

void ProgressBar::draw(std::size_t done, std::size_t failed)
{
    done_ = done;
    failed_ = failed;
    if (!enabled_) {
        return;
    }
    const std::size_t filled = total_ ? done * width / total_ : width;
    err_ << "\r[" << std::string(filled, '#') << std::string(width - filled, '.') << "] " << done << '/' << total_
         << " batches";
    if (failed > 0) {
        err_ << ", " << failed << " failed";
    }
    err_ << std::flush;
}

void ProgressBar::message(const std::string &line)
{
    clear();
    err_ << line << "\n";
    if (enabled_) {
        draw(done_, failed_);
    } else {
        err_ << std::flush;
    }
}

}  // namespace dvkc::tool
