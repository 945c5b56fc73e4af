// Reads a fuzzer's input front to back: little-endian integers and byte
// runs. Past the end, integers read as 0 and runs come out short, so every
// input is usable. fuzz/make_corpora writes its seeds in the same layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace dvkc::fuzz {

class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) noexcept : data_(data), size_(size) {}

    template <typename T>
    T integer() noexcept
    {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            value |= static_cast<std::uint64_t>(pos_ < size_ ? data_[pos_++] : 0) << (8 * i);
        }
        return static_cast<T>(value);
    }

    // The next `count` bytes (fewer at the end).
    std::string bytes(std::size_t count)
    {
        const std::size_t n = count < size_ - pos_ ? count : size_ - pos_;
        std::string out(reinterpret_cast<const char *>(data_ + pos_), n);
        pos_ += n;
        return out;
    }

    // A run of bytes preceded by its 16-bit length.
    std::string run() { return bytes(integer<std::uint16_t>()); }

    // Everything not read yet.
    std::string rest() { return bytes(size_ - pos_); }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A text as a C function sees it: up to its first NUL.
inline std::string_view up_to_nul(const std::string &bytes) noexcept
{
    return {bytes.c_str()};
}

// A broken property: abort, so that libFuzzer keeps the input.
[[noreturn]] inline void fail() noexcept
{
    std::abort();
}

inline void require(bool property) noexcept
{
    if (!property) {
        fail();
    }
}

}  // namespace dvkc::fuzz
