// A one-line progress bar redrawn on the error stream as batches finish,
// and the messages printed above it. Safe to use from several threads.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

namespace dvkc::tool {

class ProgressBar {
public:
    // Draws nothing when `enabled` is false; messages are printed all the same.
    ProgressBar(std::ostream &err, std::size_t total, bool enabled);
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;
    ~ProgressBar();  // clears the bar

    // "[#####...] 37/1000 batches, 2 failed"
    void draw(std::size_t done, std::size_t failed);
    // A line of its own (no line end needed), the bar drawn again below it.
    void message(const std::string &line);
    // Runs `write` (output to the same terminal) with the bar's line cleared,
    // then draws the bar again.
    void above(const std::function<void()> &write);

private:
    void clear();
    void redraw();

    static constexpr std::size_t width = 40;
    std::mutex mutex_;
    std::ostream &err_;
    std::size_t total_;
    bool enabled_;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
};

}  // namespace dvkc::tool
