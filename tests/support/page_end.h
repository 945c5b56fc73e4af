// Places a text at the very end of a readable page that is followed by an
// inaccessible page, so that any read past the text's NUL faults at once.
#pragma once

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "test_platform.h"

namespace dvkc::test {

class PageEndText {
public:
    // Copies `text` and a NUL so that the NUL is the page's last byte.
    // With `with_nul` false, the text's last character is the last byte.
    explicit PageEndText(std::string_view text, bool with_nul = true)
    {
        const std::size_t page = page_size();
        const std::size_t need = text.size() + (with_nul ? 1 : 0);
        total_ = ((need + page - 1) / page + 1) * page;
        base_ = map_pages_with_guard(total_);
        char *guard = base_ + total_ - page;
        data_ = guard - need;
        std::memcpy(data_, text.data(), text.size());
        if (with_nul) {
            data_[text.size()] = '\0';
        }
    }
    PageEndText(const PageEndText &) = delete;
    PageEndText &operator=(const PageEndText &) = delete;
    ~PageEndText() { unmap_pages(base_, total_); }

    char *data() noexcept { return data_; }

private:
    char *base_ = nullptr;
    char *data_ = nullptr;
    std::size_t total_ = 0;
};

}  // namespace dvkc::test
