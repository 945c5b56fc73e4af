#include "query/progress.h"

namespace dvkc::tool {

ProgressBar::ProgressBar(std::ostream &err, std::size_t total, bool enabled)
    : err_(err), total_(total), enabled_(enabled)
{
    redraw();
}

ProgressBar::~ProgressBar()
{
    const std::lock_guard lock(mutex_);
    clear();
}

void ProgressBar::clear()
{
    if (enabled_) {
        err_ << '\r' << std::string(width + 50, ' ') << '\r' << std::flush;
    }
}

void ProgressBar::redraw()
{
    if (!enabled_) {
        return;
    }
    const std::size_t filled = total_ != 0 ? done_ * width / total_ : width;
    err_ << "\r[" << std::string(filled, '#') << std::string(width - filled, '.') << "] " << done_ << '/' << total_
         << " batches";
    if (failed_ > 0) {
        err_ << ", " << failed_ << " failed";
    }
    err_ << std::flush;
}

void ProgressBar::draw(std::size_t done, std::size_t failed)
{
    const std::lock_guard lock(mutex_);
    done_ = done;
    failed_ = failed;
    redraw();
}

void ProgressBar::message(const std::string &line)
{
    const std::lock_guard lock(mutex_);
    clear();
    err_ << line << "\n" << std::flush;
    redraw();
}

void ProgressBar::above(const std::function<void()> &write)
{
    const std::lock_guard lock(mutex_);
    clear();
    write();
    redraw();
}

}  // namespace dvkc::tool
