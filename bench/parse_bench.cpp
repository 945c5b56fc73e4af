// Parsing whole answers (status line and headers included): the library
// against pugixml (parse, then walk the records taking each Code as an
// integer) and a plain strstr extractor making the same checks, nanoseconds
// per record.
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

    Answer(int records, std::size_t filler)
        : table(static_cast<std::size_t>(records)), text(make_answer(records, filler))
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
        if (std::strcmp(root.child_value("ClientID"), kCid) != 0 ||
            std::strcmp(root.child_value("Nonce"), kNonce) != 0) {
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

    // The same checks written plainly with strstr and atoi: the status, our
    // ClientID and Nonce, then per record its end and its four fields, each
    // present and non-empty, and the Code.
    static const char *value_of(const char *from, const char *open, const char *close, const char *stop)
    {
        const char *at = std::strstr(from, open);
        if (at == nullptr || at >= stop) {
            return nullptr;
        }
        at += std::strlen(open);
        const char *until = std::strstr(at, close);
        return until != nullptr && until > at && until <= stop ? at : nullptr;
    }

    bool parse_with_strstr()
    {
        const char *doc = text.c_str();
        const char *const whole = doc + text.size();
        if (std::strncmp(doc, "HTTP/", 5) != 0 || std::strstr(doc, "<ErrID>") != nullptr) {
            return false;
        }
        const char *cid = value_of(doc, "<ClientID>", "</ClientID>", whole);
        const char *nonce = value_of(doc, "<Nonce>", "</Nonce>", whole);
        if (cid == nullptr || nonce == nullptr || std::strncmp(cid, kCid, std::strlen(kCid)) != 0 ||
            std::strncmp(nonce, kNonce, std::strlen(kNonce)) != 0) {
            return false;
        }
        const char *p = std::strstr(doc, "</TotalCount>");
        for (int i = 0; p != nullptr && i < ctx.TotalCount; ++i) {
            const char *rec = std::strstr(p, "<Rec>");
            const char *rec_end = rec == nullptr ? nullptr : std::strstr(rec, "</Rec>");
            if (rec_end == nullptr || value_of(rec, "<ID>", "</ID>", rec_end) == nullptr ||
                value_of(rec, "<SN>", "</SN>", rec_end) == nullptr ||
                value_of(rec, "<SSID4>", "</SSID4>", rec_end) == nullptr) {
                return false;
            }
            const char *code = value_of(rec, "<Code>", "</Code>", rec_end);
            if (code == nullptr) {
                return false;
            }
            table[static_cast<std::size_t>(i)].Code = std::atoi(code);
            p = rec_end;
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
