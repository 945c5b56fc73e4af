// Building a request document and its envelope, by table size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "dvkc.h"

namespace {

std::string identity_file()
{
    static const std::string path = [] {
        char name[] = "/tmp/dvkc-bench-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) {
            static const char content[] = "benchmark identity";
            (void)!write(fd, content, sizeof content - 1);
            close(fd);
        }
        return std::string(name);
    }();
    return path;
}

std::vector<QueryRecord> make_table(std::size_t n)
{
    std::vector<QueryRecord> table(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string n = std::to_string(i % 100000000);
        const std::string sn = "SN" + std::string(14 - n.size() % 15, '0') + n;
        std::strncpy(table[i].SN, sn.c_str(), 16);
        std::strncpy(table[i].SSID, ("ID" + n).c_str(), 10);
    }
    return table;
}

void BM_RequestDocument(benchmark::State &state)
{
    auto table = make_table(static_cast<std::size_t>(state.range(0)));
    QueryContext ctx{};
    ctx.TotalCount = static_cast<std::int32_t>(table.size());
    ctx.Records = table.data();
    const std::string identity = identity_file();
    for (auto _ : state) {
        std::int32_t len = 0;
        char *doc = nullptr;
        if (iMake_DVKReqPKT(0, identity.c_str(), &ctx, &len, &doc) != 0) {
            state.SkipWithError("iMake_DVKReqPKT failed");
            break;
        }
        benchmark::DoNotOptimize(doc);
        vFreeData(doc);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RequestDocument)->RangeMultiplier(10)->Range(10, 100000)->Complexity(benchmark::oN);

void BM_RequestEnvelope(benchmark::State &state)
{
    const std::string doc(static_cast<std::size_t>(state.range(0)), 'd');
    const std::string sig(344, 's');
    for (auto _ : state) {
        std::int32_t len = 0;
        char *envelope = nullptr;
        iMake_DVKRequestPKT(static_cast<std::int32_t>(doc.size()), doc.c_str(), 344, sig.c_str(), &len, &envelope);
        benchmark::DoNotOptimize(envelope);
        vFreeData(envelope);
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RequestEnvelope)->RangeMultiplier(10)->Range(1000, 10000000)->Complexity(benchmark::oN);

}  // namespace
