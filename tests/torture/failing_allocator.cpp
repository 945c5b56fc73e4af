#include "failing_allocator.h"

#include <openssl/crypto.h>

#include <cstdlib>

#include "interface/allocate.h"

namespace dvkc::test {
namespace {

thread_local bool counting = false;
thread_local std::size_t count = 0;
thread_local std::size_t fail_at_count = 0;
thread_local bool failed = false;

// True when this allocation is the one to fail.
bool next_fails() noexcept
{
    if (!counting) {
        return false;
    }
    ++count;
    if (count == fail_at_count) {
        failed = true;
        return true;
    }
    return false;
}

void *library_allocate(std::size_t size)
{
    return next_fails() ? nullptr : std::malloc(size);
}

void *openssl_malloc(std::size_t size, const char *, int)
{
    return next_fails() ? nullptr : std::malloc(size);
}

void *openssl_realloc(void *block, std::size_t size, const char *, int)
{
    if (size != 0 && next_fails()) {
        return nullptr;  // the old block stays as it was, as realloc leaves it
    }
    return std::realloc(block, size);
}

void openssl_free(void *block, const char *, int)
{
    std::free(block);
}

}  // namespace

bool install_failing_allocator()
{
    if (CRYPTO_set_mem_functions(openssl_malloc, openssl_realloc, openssl_free) != 1) {
        return false;
    }
    test_seam::set_allocate_hook(library_allocate);
    return true;
}

FailingAllocations::FailingAllocations(std::size_t fail_at) noexcept
{
    count = 0;
    fail_at_count = fail_at;
    failed = false;
    counting = true;
}

FailingAllocations::~FailingAllocations()
{
    counting = false;
}

std::size_t FailingAllocations::counted() const noexcept
{
    return count;
}

bool FailingAllocations::failed_one() const noexcept
{
    return failed;
}

}  // namespace dvkc::test
