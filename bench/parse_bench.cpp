// Parsing whole answers (status line and headers included): the library
// against pugixml (parse, then walk the records taking each Code as an
// integer) and a plain strstr extractor, nanoseconds per record.
#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dvkc.h"
#include "side_by_side.h"

namespace {

constexpr const char *kCid = "0123456789ABCDEF0123456789ABCDEF01234567";
constexpr const char *kNonce = "abcDEF123456789";

// An answer as the echo service gives it, after `filler` blanks.
std::string make_answer(int records, std::size_t filler)
{
    std::string text = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + std::string(filler, ' ') +
                       "<DVKResponse><ClientID>" + kCid + "</ClientID><Nonce>" + kNonce +
                       "</Nonce><ReqTime>20260101000000</ReqTime><TotalCount>" + std::to_string(records) +
                       "</TotalCount>";
    for (int i = 0; i < records; ++i) {
        const std::string id = std::to_string(i);
        text += "<Rec><ID>" + id + "</ID><SN>SN" + std::string(14 - id.size(), '0') + id +
                "</SN><SSID4>AB12</SSID4><Code>" + std::to_string(i % 1000) + "</Code></Rec>";
    }
    return text + "</DVKResponse>";
}

struct Answer {
    std::vector<QueryRecord> table;
    QueryContext ctx{};
    std::string text;

    Answer(int records, std::size_t filler) : table(static_cast<std::size_t>(records)), text(make_answer(records, filler))
    {
        std::strcpy(ctx.ClientID, kCid);
        std::strcpy(ctx.Nonce, kNonce);
        ctx.TotalCount = records;
        ctx.Records = table.data();
    }

    bool parse_with_library()
    {
        return iParse_DVKResponsePKT(&ctx, static_cast<std::int32_t>(text.size()), text.data()) == 0;
    }

    // What an integrator would write with an XML parser: skip the headers,
    // parse the document, walk the records.
    bool parse_with_pugixml()
    {
        const std::size_t body = text.find("\r\n\r\n");
        pugi::xml_document doc;
        if (body == std::string::npos || !doc.load_buffer(text.data() + body + 4, text.size() - body - 4)) {
            return false;
        }
        const pugi::xml_node root = doc.child("DVKResponse");
        if (std::strcmp(root.child_value("ClientID"), kCid) != 0 || std::strcmp(root.child_value("Nonce"), kNonce) != 0) {
            return false;
        }
        int i = 0;
        for (const pugi::xml_node rec : root.children("Rec")) {
            if (i == ctx.TotalCount) {
                return false;
            }
            table[static_cast<std::size_t>(i++)].Code = rec.child("Code").text().as_int();
        }
        return i == ctx.TotalCount;
    }

    // The plainest extractor: strstr from one Code to the next.
    bool parse_with_strstr()
    {
        const char *p = std::strstr(text.c_str(), "</TotalCount>");
        for (int i = 0; p != nullptr && i < ctx.TotalCount; ++i) {
            p = std::strstr(p, "<Code>");
            if (p == nullptr) {
                return false;
            }
            p += 6;
            table[static_cast<std::size_t>(i)].Code = std::atoi(p);
        }
        return p != nullptr;
    }
};

void BM_Parse(benchmark::State &state)
{
    const int records = static_cast<int>(state.range(0));
    Answer answer(records, 0);
    const std::vector<dvkc::bench::Peer> peers = {
        {"library", [&] { return answer.parse_with_library(); }},
        {"pugixml", [&] { return answer.parse_with_pugixml(); }},
        {"strstr", [&] { return answer.parse_with_strstr(); }},
    };
    dvkc::bench::run_side_by_side(state, peers, records >= 1000 ? 2 : 20000 / records, records);
}
BENCHMARK(BM_Parse)->Arg(10)->Arg(100)->Arg(1000)->MinTime(dvkc::bench::bench_seconds(1.0));

// A large answer with the records at its end: the header searches must not
// rescan it once per record.
void BM_ParseLargeAnswer(benchmark::State &state)
{
    Answer answer(1000, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        if (!answer.parse_with_library()) {
            state.SkipWithError("parse failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(answer.text.size()));
    state.SetComplexityN(static_cast<std::int64_t>(answer.text.size()));
}
BENCHMARK(BM_ParseLargeAnswer)->RangeMultiplier(8)->Range(4096, 262144)->Complexity(benchmark::oN);

}  // namespace
