// Building a request: the library's document and envelope builders against
// a plain builder that writes the same document with snprintf and a moving
// write pointer, nanoseconds per record.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dvkc.h"
#include "side_by_side.h"

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
        const std::string digits = std::to_string(i % 100000000);
        const std::string sn = "SN" + std::string(14 - digits.size() % 15, '0') + digits;
        std::snprintf(table[i].SN, sizeof table[i].SN, "%s", sn.c_str());
        std::snprintf(table[i].SSID, sizeof table[i].SSID, "ID%s", digits.c_str());
    }
    return table;
}

// The document as a plain C builder would write it.
char *plain_document(const QueryContext &ctx, const char *client_id, const char *nonce, const char *req_time)
{
    const std::size_t capacity = 200 + static_cast<std::size_t>(ctx.TotalCount) * 80;
    char *doc = static_cast<char *>(std::malloc(capacity));
    if (doc == nullptr) {
        return nullptr;
    }
    char *at = doc;
    char *const end = doc + capacity;
    at += std::snprintf(
        at, static_cast<std::size_t>(end - at),
        "<DVKReq><ClientID>%s</ClientID><Nonce>%s</Nonce><ReqTime>%s</ReqTime><TotalCount>%d</TotalCount>", client_id,
        nonce, req_time, ctx.TotalCount);
    for (std::int32_t i = 0; i < ctx.TotalCount; ++i) {
        at += std::snprintf(at, static_cast<std::size_t>(end - at), "<Rec><ID>%d</ID><SN>%s</SN><SSID>%s</SSID></Rec>",
                            i + 1, ctx.Records[i].SN, ctx.Records[i].SSID);
    }
    std::snprintf(at, static_cast<std::size_t>(end - at), "</DVKReq>");
    return doc;
}

void BM_Build(benchmark::State &state)
{
    const auto records = static_cast<std::size_t>(state.range(0));
    std::vector<QueryRecord> table = make_table(records);
    QueryContext ctx{};
    ctx.TotalCount = static_cast<std::int32_t>(records);
    ctx.Records = table.data();
    const std::string identity = identity_file();

    // A document of this size for the envelope builder.
    std::int32_t doc_len = 0;
    char *doc = nullptr;
    if (iMake_DVKReqPKT(0, identity.c_str(), &ctx, &doc_len, &doc) != 0) {
        state.SkipWithError("iMake_DVKReqPKT failed");
        return;
    }
    const std::string document(doc, static_cast<std::size_t>(doc_len));
    vFreeData(doc);
    const std::string signature(344, 's');

    const std::vector<dvkc::bench::Peer> peers = {
        {"library document",
         [&] {
             std::int32_t len = 0;
             char *out = nullptr;
             if (iMake_DVKReqPKT(0, identity.c_str(), &ctx, &len, &out) != 0) {
                 return false;
             }
             benchmark::DoNotOptimize(out);
             vFreeData(out);
             return true;
         }},
        {"library envelope",
         [&] {
             std::int32_t len = 0;
             char *out = nullptr;
             if (iMake_DVKRequestPKT(doc_len, document.c_str(), 344, signature.c_str(), &len, &out) != 0) {
                 return false;
             }
             benchmark::DoNotOptimize(out);
             vFreeData(out);
             return true;
         }},
        {"snprintf",
         [&] {
             char *out = plain_document(ctx, ctx.ClientID, ctx.Nonce, ctx.ReqTime);
             benchmark::DoNotOptimize(out);
             std::free(out);
             return out != nullptr;
         }},
    };
    const int batch = records >= 10000 ? 1 : static_cast<int>(10000 / records);
    dvkc::bench::run_side_by_side(state, peers, batch, static_cast<double>(records));
}
BENCHMARK(BM_Build)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->MinTime(dvkc::bench::bench_seconds(1.0));

}  // namespace
