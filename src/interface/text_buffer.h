// An allocated text under construction, with a capacity fixed up front.
// Appends never write past the capacity. The first append that does not fit
// is remembered: the text stays as it was before that append, every later
// append is ignored, and release() hands out nothing, so a builder checks
// once, at the end, whether its sizing held.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "interface/allocate.h"

namespace dvkc {

struct FreeDeleter {
    void operator()(void *p) const noexcept { release(p); }
};

class TextBuffer {
public:
    // Allocates room for `capacity` characters plus the NUL; check ok().
    explicit TextBuffer(std::size_t capacity) noexcept
        : data_(capacity < SIZE_MAX ? static_cast<char *>(allocate(capacity + 1)) : nullptr), capacity_(capacity)
    {
        if (data_) {
            data_.get()[0] = '\0';
        }
    }

    // Whether the buffer was allocated.
    bool ok() const noexcept { return data_ != nullptr; }
    // Whether an append did not fit (or there is no buffer).
    bool overflowed() const noexcept { return overflowed_ || !data_; }
    std::size_t size() const noexcept { return size_; }
    const char *data() const noexcept { return data_.get(); }
    std::string_view view() const noexcept { return {data_.get(), size_}; }

    // Appends `text` whole; returns false, and sets the overflow for good,
    // when it does not fit.
    bool append(std::string_view text) noexcept
    {
        if (overflowed()) {
            return false;
        }
        if (text.size() > capacity_ - size_) {
            overflowed_ = true;
            return false;
        }
        std::memcpy(data_.get() + size_, text.data(), text.size());
        size_ += text.size();
        data_.get()[size_] = '\0';
        return true;
    }

    // Appends `value` in decimal, as append(text) does.
    bool append(std::int64_t value) noexcept
    {
        char digits[24];
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
        return append(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }

    // Gives up ownership of the whole text; null after an overflow. The
    // caller frees the result with std::free.
    char *release() noexcept { return overflowed() ? nullptr : data_.release(); }

private:
    std::unique_ptr<char, FreeDeleter> data_;
    std::size_t capacity_;
    std::size_t size_ = 0;
    bool overflowed_ = false;
};

// The number of characters of `value` in decimal, sign included.
inline std::size_t decimal_length(std::int64_t value) noexcept
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return static_cast<std::size_t>(result.ptr - digits);
}

}  // namespace dvkc
