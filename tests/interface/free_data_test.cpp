// Every buffer the library allocates is released once: by the library itself,
// or by vFreeData for those it hands to the host.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "dvkc.h"
#include "interface/allocate.h"
#include "temp_dir.h"

namespace dvkc {
namespace {

std::atomic<long> allocations{0};
std::atomic<long> releases{0};

// Counts while installed; removed at scope exit.
class CountingHooks {
public:
    CountingHooks()
    {
        test_seam::set_allocate_hook([](std::size_t size) {
            ++allocations;
            return std::malloc(size);
        });
        test_seam::set_release_hook([](void *buffer) {
            if (buffer != nullptr) {
                ++releases;
            }
            std::free(buffer);
        });
    }
    CountingHooks(const CountingHooks &) = delete;
    CountingHooks &operator=(const CountingHooks &) = delete;
    ~CountingHooks()
    {
        test_seam::set_allocate_hook(nullptr);
        test_seam::set_release_hook(nullptr);
    }
};

TEST(FreeData, ReleasesWhatTheLibraryHandedOut)
{
    const sample::TempDir dir;
    const std::string identity = dir.write_file("identity.bin", "client");
    QueryRecord record{"SN-1", "SSID", 0};
    QueryContext context{{}, {}, {}, 0, 1, &record};
    const CountingHooks counting;
    char *document = nullptr;
    char *envelope = nullptr;
    std::int32_t document_length = 0;
    std::int32_t envelope_length = 0;
    ASSERT_EQ(iMake_DVKReqPKT(1, identity.c_str(), &context, &document_length, &document), DVKC_BUILD_OK);
    ASSERT_EQ(iMake_DVKRequestPKT(document_length, document, 3, "sig", &envelope_length, &envelope), DVKC_WRAP_OK);
    EXPECT_EQ(allocations - releases, 2);  // the two handed out
    vFreeData(document);
    vFreeData(envelope);
    vFreeData(nullptr);
    EXPECT_EQ(releases.load(), allocations.load());
    EXPECT_GE(allocations.load(), 2);
}

}  // namespace
}  // namespace dvkc
