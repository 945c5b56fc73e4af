// A malloc'd text under construction, with a fixed capacity fixed up front.
// Appends never write past the capacity; the text stays NUL-terminated.
// release() hands the buffer to the host (freed there with vFreeData).
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace dvkc {

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

class TextBuffer {
public:
    // Allocates room for `capacity` characters plus the NUL; check ok().
    explicit TextBuffer(std::size_t capacity) noexcept
        : data_(static_cast<char *>(std::malloc(capacity + 1))), capacity_(capacity)
    {
        if (data_) {
            data_.get()[0] = '\0';
        }
    }

    bool ok() const noexcept { return data_ != nullptr; }
    std::size_t size() const noexcept { return size_; }
    const char *data() const noexcept { return data_.get(); }
    std::string_view view() const noexcept { return {data_.get(), size_}; }

    // Appends as much of `text` as fits; returns false if it was cut.
    bool append(std::string_view text) noexcept
    {
        const std::size_t room = capacity_ - size_;
        const std::size_t n = text.size() < room ? text.size() : room;
        std::memcpy(data_.get() + size_, text.data(), n);
        size_ += n;
        data_.get()[size_] = '\0';
        return n == text.size();
    }

    bool append(std::int64_t value) noexcept
    {
        char digits[24];
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
        return ec == std::errc{} && append(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }

    // Gives up ownership; the caller frees the result with std::free.
    char *release() noexcept { return data_.release(); }

private:
    std::unique_ptr<char, FreeDeleter> data_;
    std::size_t capacity_;
    std::size_t size_ = 0;
};

}  // namespace dvkc
