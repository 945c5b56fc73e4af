// Output formats: input order, failed batches, and JSON that parses back.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "batch/output.h"
#include "cli/exit_status.h"

namespace dvkc::tool {
namespace {

// Batches of records and how each ended.
struct Report {
    std::vector<std::vector<InputRecord>> records;
    std::vector<BatchOutcome> batches;
};

BatchOutcome outcome(BatchRange range, BatchResult result)
{
    BatchOutcome batch;
    batch.range = range;
    batch.result = std::move(result);
    batch.attempts = 1;
    return batch;
}

// The whole report in one format, ending with the status the tally gives.
std::string written(OutputFormat format, const Report &report, int signal = 0)
{
    const auto writer = make_writer(format);
    std::ostringstream out;
    Tally tally;
    writer->begin(out);
    for (std::size_t b = 0; b < report.batches.size(); ++b) {
        writer->batch(out, b, report.batches[b], report.records[b]);
        tally.add(report.batches[b]);
    }
    writer->end(out, tally.status(signal));
    return out.str();
}

nlohmann::json json_of(const Report &report, int signal = 0)
{
    return nlohmann::json::parse(written(OutputFormat::json, report, signal));
}

// Five records in three batches: answered, failed in the exchange, answered.
Report sample_report()
{
    return {{{{"A1", "S1", 2}, {"B2", "S2", 3}}, {{"C3", "S3", 5}, {"D4", "S4", 6}}, {{"E5", "S5", 9}}},
            {outcome({0, 2}, Answered{{0, -5}}),
             outcome({2, 2}, BrokenExchange{dvkc::Error(dvkc::Call::exchange, -12), {}, std::nullopt}),
             outcome({4, 1}, Answered{{2147483647}})}};
}

TEST(JsonOutput, ParsesBackInInputOrder)
{
    const nlohmann::json doc = json_of(sample_report());
    const auto &records = doc.at("records");
    ASSERT_EQ(records.size(), 5U);
    const char *sns[] = {"A1", "B2", "C3", "D4", "E5"};
    const int lines[] = {2, 3, 5, 6, 9};
    const int batches[] = {1, 1, 2, 2, 3};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(records[i].at("sn"), sns[i]);
        EXPECT_EQ(records[i].at("line"), lines[i]);
        EXPECT_EQ(records[i].at("batch"), batches[i]);
    }
    EXPECT_EQ(records[0].at("code"), 0);
    EXPECT_EQ(records[1].at("code"), -5);
    EXPECT_TRUE(records[2].at("code").is_null());
    EXPECT_TRUE(records[3].at("code").is_null());
    EXPECT_EQ(records[4].at("code"), 2147483647);

    const auto &outcome = doc.at("batches");
    ASSERT_EQ(outcome.size(), 3U);
    EXPECT_EQ(outcome[0].at("answered"), true);
    EXPECT_TRUE(outcome[0].at("error").is_null());
    EXPECT_EQ(outcome[1].at("answered"), false);
    EXPECT_EQ(outcome[1].at("first_record"), 3);
    EXPECT_EQ(outcome[1].at("records"), 2);
    EXPECT_EQ(outcome[1].at("error").at("call"), "iSSL_SendThenRecv");
    EXPECT_EQ(outcome[1].at("error").at("code"), -12);
    EXPECT_EQ(outcome[1].at("error").at("description"), std::string(dvkc::describe(dvkc::Call::exchange, -12)));
    EXPECT_TRUE(outcome[1].at("error").at("err_id").is_null());
    EXPECT_EQ(doc.at("exit_status"), exit_partial);
}

// The list of batches is kept out of memory: a long run's document takes no
// more memory than a short one's, and is whole and in order where the kept
// list passes from memory to its file and back.
TEST(JsonOutput, LongRunsKeepMemoryFlat)
{
    Report report;
    for (std::size_t b = 0; b < 3000; ++b) {
        report.records.push_back({{"SN" + std::to_string(b), "S", b + 1}});
        report.batches.push_back(b % 3 == 1 ? outcome({b, 1}, TimedOut{std::chrono::seconds(1)})
                                            : outcome({b, 1}, Answered{{static_cast<std::int32_t>(b)}}));
    }
    const nlohmann::json doc = json_of(report);
    ASSERT_EQ(doc.at("batches").size(), 3000U);
    for (std::size_t b = 0; b < 3000; ++b) {
        ASSERT_EQ(doc.at("batches")[b].at("batch"), b + 1);
        ASSERT_EQ(doc.at("batches")[b].at("answered"), b % 3 != 1);
    }
    EXPECT_EQ(doc.at("records")[2999].at("code"), 2999);

#if !defined(__SANITIZE_ADDRESS__)  // its allocator says nothing of ours
    const auto writer = make_writer(OutputFormat::json);
    std::ostream discard(nullptr);
    writer->begin(discard);
    const std::vector<InputRecord> records{{"SN", "S", 1}};
    const std::size_t before = ::mallinfo2().uordblks;
    for (std::size_t b = 0; b < 100'000; ++b) {
        writer->batch(discard, b, outcome({b, 1}, Answered{{1}}), records);
    }
    const std::size_t after = ::mallinfo2().uordblks;
    EXPECT_LT(after - std::min(after, before), std::size_t{1} << 20) << "bytes more after 100000 batches";
    writer->end(discard, 0);
#endif
}

// Each way a batch can fail, as its JSON error and its summary kind.
TEST(JsonOutput, EveryKindOfFailure)
{
    struct Row {
        BatchResult result;
        nlohmann::json call;
        nlohmann::json code;
        nlohmann::json err_id;
        std::string description;
        std::string kind;
    };
    const std::string exchange = "iSSL_SendThenRecv";
    const Row rows[] = {
        {ServiceError{dvkc::Error(dvkc::Call::parse, 2000, 17)}, "iParse_DVKResponsePKT", 2000, 17,
         std::string(dvkc::describe(dvkc::Call::parse, 2000)), "ErrID 17"},
        {RefusedAnswer{dvkc::Error(dvkc::Call::parse, 2005), "HTTP/1.0 200 OK\r\n\r\n"}, "iParse_DVKResponsePKT", 2005,
         nullptr, std::string(dvkc::describe(dvkc::Call::parse, 2005)), "2005"},
        {BrokenExchange{std::nullopt, "the connection was closed without an answer", ""}, exchange, nullptr, nullptr,
         "the connection was closed without an answer", "broken"},
        {TimedOut{std::chrono::seconds(7)}, exchange, nullptr, nullptr, "timed out after 7 s", "timeout"},
        {SignatureFailure{"the sign command exited with status 1"}, "signature", nullptr, nullptr,
         "the sign command exited with status 1", "signature"},
        {NotSent{"not built", dvkc::Error(dvkc::Call::build, -1)}, "iMake_DVKReqPKT", -1, nullptr,
         std::string(dvkc::describe(dvkc::Call::build, -1)), "-1"},
    };
    for (const Row &row : rows) {
        const Report report{{{{"A", "1", 1}}}, {outcome({0, 1}, row.result)}};
        const nlohmann::json doc = json_of(report);
        const nlohmann::json &error = doc.at("batches")[0].at("error");
        EXPECT_EQ(error.at("call"), row.call) << row.description;
        EXPECT_EQ(error.at("code"), row.code) << row.description;
        EXPECT_EQ(error.at("err_id"), row.err_id) << row.description;
        EXPECT_EQ(error.at("description"), row.description);
        EXPECT_EQ(report.batches[0].failure_kind(), row.kind);
        EXPECT_EQ(doc.at("exit_status"), exit_failed) << row.description;
        EXPECT_EQ(written(OutputFormat::table, report), "SN  SSID  Code\nA   1     -\n");
    }
}

// The status written is the one the tool exits with: a signal's when stopped by one.
TEST(JsonOutput, ExitStatusAgreesWithTheProcess)
{
    const Report report = sample_report();
    EXPECT_EQ(json_of(report).at("exit_status"), exit_partial);
    EXPECT_EQ(json_of(report, SIGTERM).at("exit_status"), 128 + SIGTERM);
    const Report left{{{{"A", "1", 1}}}, {outcome({0, 1}, NotSent{"interrupted", std::nullopt})}};
    EXPECT_EQ(json_of(left).at("exit_status"), exit_failed);
    EXPECT_EQ(json_of(left, SIGINT).at("exit_status"), 128 + SIGINT);
}

TEST(JsonOutput, NonUtf8TextStillGivesValidJson)
{
    const Report report{{{{"\xff\xfe", "x", 1}}}, {outcome({0, 1}, Answered{{1}})}};
    EXPECT_TRUE(nlohmann::json::accept(written(OutputFormat::json, report)));
}

TEST(CsvOutput, EmptyCodeForUnansweredRecords)
{
    EXPECT_EQ(written(OutputFormat::csv, sample_report()),
              "SN,SSID,Code\nA1,S1,0\nB2,S2,-5\nC3,S3,\nD4,S4,\nE5,S5,2147483647\n");
    // Spaces at either end of a field are kept by quoting it, as the reader reads them.
    const Report padded{{{{" A", "B ", 1}, {"C D", "E", 2}}}, {outcome({0, 2}, Answered{{1, 2}})}};
    EXPECT_EQ(written(OutputFormat::csv, padded), "SN,SSID,Code\n\" A\",\"B \",1\nC D,E,2\n");
}

TEST(TableOutput, ColumnsAndDashForUnanswered)
{
    EXPECT_EQ(written(OutputFormat::table, sample_report()),
              "SN  SSID  Code\n"
              "A1  S1    0\n"
              "B2  S2    -5\n"
              "C3  S3    -\n"
              "D4  S4    -\n"
              "E5  S5    2147483647\n");
}

TEST(Failures, OneLinePerFailedBatchAndTheAnswerWhenVerbose)
{
    BatchOutcome refused = outcome({2, 2}, RefusedAnswer{dvkc::Error(dvkc::Call::parse, -1),
                                                         "HTTP/1.0 503 Busy\r\nX: y\r\n\r\n" + std::string(3000, 'b')});
    EXPECT_EQ(failure_text(1, 3, refused, false),
              "dvkc: batch 2 of 3 (records 3 to 4) failed: iParse_DVKResponsePKT -1: " +
                  std::string(dvkc::describe(dvkc::Call::parse, -1)));
    const std::string verbose = failure_text(1, 3, refused, true);
    EXPECT_NE(verbose.find("status line: HTTP/1.0 503 Busy\n"), std::string::npos);
    EXPECT_NE(verbose.find("first 2048 shown"), std::string::npos);
    EXPECT_EQ(verbose.find(std::string(2100, 'b')), std::string::npos);
    EXPECT_EQ(verbose.find("NUL"), std::string::npos);

    // The parser stops at a NUL byte: say so.
    refused.result = RefusedAnswer{dvkc::Error(dvkc::Call::parse, 2001),
                                   std::string("HTTP/1.0 200 OK\r\n\r\n<DVKResponse>\0<ClientID>", 35)};
    EXPECT_NE(failure_text(1, 3, refused, true).find("the answer holds a NUL byte at offset 32"), std::string::npos);

    // A broken exchange shows what came, even nothing.
    refused.result = BrokenExchange{std::nullopt, "the connection was closed without an answer", ""};
    EXPECT_NE(failure_text(1, 3, refused, true).find("answer (0 bytes"), std::string::npos);
    // An untrusted server: -v points to `dvkc check` for -12 and -17 only.
    for (const std::int32_t code : {-12, -17, -9}) {
        refused.result = BrokenExchange{dvkc::Error(dvkc::Call::exchange, code), "", std::nullopt};
        const std::string untrusted = failure_text(1, 3, refused, true);
        EXPECT_EQ(untrusted.find("`dvkc check`") != std::string::npos, code != -9) << untrusted;
    }
}

}  // namespace
}  // namespace dvkc::tool
