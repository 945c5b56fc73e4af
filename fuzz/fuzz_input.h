// Reads a fuzzer's input front to back: little-endian integers and byte
// runs. Past the end, integers read as 0 and runs come out short, so every
// input is usable. fuzz/make_corpora writes its seeds in the same layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

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

    // The next `count` bytes (fewer at the end); by default all the rest.
    std::string bytes(std::size_t count = SIZE_MAX)
    {
        const std::size_t n = count < size_ - pos_ ? count : size_ - pos_;
        std::string out(reinterpret_cast<const char *>(data_ + pos_), n);
        pos_ += n;
        return out;
    }

    // A run of bytes preceded by its 16-bit length.
    std::string run() { return bytes(integer<std::uint16_t>()); }

    // The next run, or all the rest, as a C text in an exactly sized heap
    // block, so that ASan sees any read past its NUL.
    std::vector<char> text(bool whole_rest)
    {
        const std::string raw = whole_rest ? bytes() : run();
        std::vector<char> out(raw.begin(), raw.end());
        out.push_back('\0');
        return out;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A broken property: abort, so that libFuzzer keeps the input.
inline void require(bool property) noexcept
{
    if (!property) {
        std::abort();
    }
}

}  // namespace dvkc::fuzz
