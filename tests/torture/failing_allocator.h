// Fails the Nth allocation made on the calling thread, counting both the
// library's own allocations and OpenSSL's. Installed by the torture tests'
// main() before anything else touches OpenSSL; other threads (the test
// service's) allocate normally and are not counted.
#pragma once

#include <cstddef>

namespace dvkc::test {

// Installs the counting allocator into OpenSSL and the library; false when
// OpenSSL has allocated already (then it cannot be installed).
bool install_failing_allocator();

// While it lives, allocations on this thread are counted, and the one whose
// count is `fail_at` fails (0: none fails).
class FailingAllocations {
public:
    explicit FailingAllocations(std::size_t fail_at) noexcept;
    FailingAllocations(const FailingAllocations &) = delete;
    FailingAllocations &operator=(const FailingAllocations &) = delete;
    ~FailingAllocations();

    std::size_t counted() const noexcept;  // allocations so far
    bool failed_one() const noexcept;      // whether the failing one was reached
};

}  // namespace dvkc::test
