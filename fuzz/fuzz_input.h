// Reads a fuzzer's input front to back: little-endian integers and byte
// runs. Past the end, integers read as 0 and runs come out short, so every
// input is usable. fuzz/make_corpora writes its seeds in the same layout.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace dvkc::fuzz {

class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) noexcept : next_(data), end_(data + size) {}

    template <typename T>
    T integer() noexcept
    {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T) && next_ != end_; ++i) {
            value |= std::uint64_t{*next_++} << (8 * i);
        }
        return static_cast<T>(value);
    }

    // The next `count` bytes (fewer at the end); by default all the rest.
    std::string bytes(std::size_t count = SIZE_MAX)
    {
        const std::uint8_t *from = next_;
        next_ += std::min(count, static_cast<std::size_t>(end_ - next_));
        return std::string(from, next_);
    }

    // A run of bytes preceded by its 16-bit length.
    std::string run() { return bytes(integer<std::uint16_t>()); }

    // The next run, or all the rest, as a C text in an exactly sized heap
    // block, so that ASan sees any read past its NUL.
    std::vector<char> text(bool whole_rest)
    {
        const std::string raw = whole_rest ? bytes() : run();
        return std::vector<char>(raw.c_str(), raw.c_str() + raw.size() + 1);
    }

private:
    const std::uint8_t *next_;
    const std::uint8_t *end_;
};

// A broken property: abort, so that libFuzzer keeps the input.
inline void require(bool property) noexcept
{
    if (!property) {
        std::abort();
    }
}

}  // namespace dvkc::fuzz
