// Splitting into batches and running them on threads.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "batch/batches.h"

namespace dvkc::tool {
namespace {

struct Split {
    std::size_t total;
    std::size_t size;
    std::vector<std::size_t> counts;
};

void PrintTo(const Split &split, std::ostream *out)
{
    *out << split.total << " by " << split.size;
}

class PlanBatches : public testing::TestWithParam<Split> {};

TEST_P(PlanBatches, CoversEveryRecordInOrder)
{
    const BatchPlan batches(GetParam().total, GetParam().size);
    ASSERT_EQ(batches.size(), GetParam().counts.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < batches.size(); ++i) {
        EXPECT_EQ(batches[i].first, next);
        EXPECT_EQ(batches[i].count, GetParam().counts[i]);
        next += batches[i].count;
    }
    EXPECT_EQ(next, GetParam().total);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, PlanBatches,
                         testing::Values(Split{0, 1000, {}}, Split{1, 1000, {1}}, Split{999, 1000, {999}},
                                         Split{1000, 1000, {1000}}, Split{1001, 1000, {1000, 1}},
                                         Split{2500, 1000, {1000, 1000, 500}}, Split{3, 1, {1, 1, 1}},
                                         Split{7, 3, {3, 3, 1}}));

TEST(PlanBatchesRejects, ZeroSize)
{
    EXPECT_THROW(BatchPlan(5, 0), std::invalid_argument);
}

TEST(RunParallel, EveryItemOnce)
{
    for (const std::size_t jobs : {1U, 2U, 4U, 50U}) {
        std::vector<std::atomic<int>> runs(23);
        run_parallel(runs.size(), jobs, [&](std::size_t i) { ++runs[i]; });
        for (const auto &count : runs) {
            EXPECT_EQ(count.load(), 1);
        }
    }
}

TEST(RunParallel, NothingToDo)
{
    bool called = false;
    run_parallel(0, 4, [&](std::size_t) { called = true; });
    EXPECT_FALSE(called);
}

TEST(RunParallel, FailureDoesNotStopTheOthers)
{
    std::atomic<int> ran{0};
    EXPECT_THROW(run_parallel(10, 3,
                              [&](std::size_t i) {
                                  ++ran;
                                  if (i == 2 || i == 7) {
                                      throw std::runtime_error("batch failed");
                                  }
                              }),
                 std::runtime_error);
    EXPECT_EQ(ran.load(), 10);
}

TEST(RunParallel, UsesSeveralThreadsWhenAsked)
{
    // Two items that each wait for the other to start can only finish when
    // they run at the same time.
    std::mutex mutex;
    std::condition_variable cv;
    int started = 0;
    run_parallel(2, 2, [&](std::size_t) {
        std::unique_lock lock(mutex);
        ++started;
        cv.notify_all();
        cv.wait(lock, [&] { return started == 2; });
    });
    EXPECT_EQ(started, 2);
}

}  // namespace
}  // namespace dvkc::tool
