// Parsing an answer, by number of records and by filler ahead of the answer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "dvkc.h"

namespace {

constexpr const char *kCid = "0123456789ABCDEF0123456789ABCDEF01234567";
constexpr const char *kNonce = "abcDEF123456789";

std::string make_answer(int records, std::size_t filler)
{
    std::string text = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + std::string(filler, ' ') +
                       "<DVKResponse><ClientID>" + kCid + "</ClientID><Nonce>" + kNonce +
                       "</Nonce><ReqTime>20260101000000</ReqTime><TotalCount>" + std::to_string(records) +
                       "</TotalCount>";
    for (int i = 0; i < records; ++i) {
        const std::string id = std::to_string(i);
        text += "<Rec><ID>" + id + "</ID><SN>SN" + id + "</SN><SSID4>AB12</SSID4><Code>" + id + "</Code></Rec>";
    }
    return text + "</DVKResponse>";
}

void run_parse(benchmark::State &state, int records, std::size_t filler)
{
    std::vector<QueryRecord> table(static_cast<std::size_t>(records));
    QueryContext ctx{};
    std::strcpy(ctx.ClientID, kCid);
    std::strcpy(ctx.Nonce, kNonce);
    ctx.TotalCount = records;
    ctx.Records = table.data();
    std::string text = make_answer(records, filler);
    for (auto _ : state) {
        if (iParse_DVKResponsePKT(&ctx, static_cast<std::int32_t>(text.size()), text.data()) != 0) {
            state.SkipWithError("parse failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void BM_ParseByRecords(benchmark::State &state)
{
    run_parse(state, static_cast<int>(state.range(0)), 0);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseByRecords)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Complexity(benchmark::oN);

// A large answer with the records at its end: the header searches must not
// rescan it once per record.
void BM_ParseLargeAnswer(benchmark::State &state)
{
    run_parse(state, 1000, static_cast<std::size_t>(state.range(0)));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseLargeAnswer)->RangeMultiplier(4)->Range(4096, 262144)->Complexity(benchmark::oN);

}  // namespace
