// Output formats: input order, failed batches, and JSON that parses back.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "exit_status.h"
#include "output.h"

namespace dvkc::tool {
namespace {

// Five records in three batches: answered, failed in the exchange, answered.
QueryReport sample_report()
{
    QueryReport report;
    report.records = {{"A1", "S1", 2}, {"B2", "S2", 3}, {"C3", "S3", 5}, {"D4", "S4", 6}, {"E5", "S5", 9}};
    BatchOutcome first;
    first.range = {0, 2};
    first.codes = {0, -5};
    BatchOutcome second;
    second.range = {2, 2};
    second.error = dvkc::Error(dvkc::Call::exchange, -12);
    BatchOutcome third;
    third.range = {4, 1};
    third.codes = {2147483647};
    report.batches = {first, second, third};
    return report;
}

TEST(JsonOutput, ParsesBackInInputOrder)
{
    std::ostringstream out;
    write_json(out, sample_report());
    const nlohmann::json doc = nlohmann::json::parse(out.str());

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

TEST(JsonOutput, ServiceErrorCarriesErrIdAndSignatureFailuresTheirText)
{
    QueryReport report;
    report.records = {{"A", "1", 1}, {"B", "2", 2}};
    BatchOutcome refused;
    refused.range = {0, 1};
    refused.error = dvkc::Error(dvkc::Call::parse, 2000, 17);
    BatchOutcome unsigned_batch;
    unsigned_batch.range = {1, 1};
    unsigned_batch.sign_error = "the sign command exited with status 1";
    report.batches = {refused, unsigned_batch};

    std::ostringstream out;
    write_json(out, report);
    const nlohmann::json doc = nlohmann::json::parse(out.str());
    EXPECT_EQ(doc.at("batches")[0].at("error").at("err_id"), 17);
    EXPECT_EQ(doc.at("batches")[0].at("error").at("code"), 2000);
    EXPECT_EQ(doc.at("batches")[1].at("error").at("call"), "signature");
    EXPECT_EQ(doc.at("batches")[1].at("error").at("description"), "the sign command exited with status 1");
    EXPECT_EQ(doc.at("exit_status"), exit_failed);
}

TEST(JsonOutput, NonUtf8TextStillGivesValidJson)
{
    QueryReport report;
    report.records = {{"\xff\xfe", "x", 1}};
    BatchOutcome batch;
    batch.range = {0, 1};
    batch.codes = {1};
    report.batches = {batch};
    std::ostringstream out;
    write_json(out, report);
    EXPECT_TRUE(nlohmann::json::accept(out.str()));
}

TEST(CsvOutput, EmptyCodeForUnansweredRecords)
{
    std::ostringstream out;
    write_csv(out, sample_report());
    EXPECT_EQ(out.str(), "SN,SSID,Code\nA1,S1,0\nB2,S2,-5\nC3,S3,\nD4,S4,\nE5,S5,2147483647\n");
}

TEST(TableOutput, ColumnsAndDashForUnanswered)
{
    std::ostringstream out;
    write_table(out, sample_report());
    EXPECT_EQ(out.str(),
              "SN  SSID  Code\n"
              "A1  S1    0\n"
              "B2  S2    -5\n"
              "C3  S3    -\n"
              "D4  S4    -\n"
              "E5  S5    2147483647\n");
}

TEST(Failures, OneLinePerFailedBatchAndTheAnswerWhenVerbose)
{
    QueryReport report = sample_report();
    report.batches[1].error = dvkc::Error(dvkc::Call::parse, -1);
    report.batches[1].answer = "HTTP/1.0 503 Busy\r\nX: y\r\n\r\n" + std::string(3000, 'b');
    std::ostringstream quiet;
    write_failures(quiet, report, false);
    EXPECT_EQ(quiet.str(), "dvkc: batch 2 of 3 (records 3 to 4) failed: iParse_DVKResponsePKT -1: " +
                               std::string(dvkc::describe(dvkc::Call::parse, -1)) + "\n");
    std::ostringstream verbose;
    write_failures(verbose, report, true);
    EXPECT_NE(verbose.str().find("status line: HTTP/1.0 503 Busy\n"), std::string::npos);
    EXPECT_NE(verbose.str().find("first 2048 shown"), std::string::npos);
    EXPECT_EQ(verbose.str().find(std::string(2100, 'b')), std::string::npos);
    EXPECT_EQ(verbose.str().find("NUL"), std::string::npos);

    // The parser stops at a NUL byte: say so.
    report.batches[1].answer = std::string("HTTP/1.0 200 OK\r\n\r\n<DVKResponse>\0<ClientID>", 35);
    std::ostringstream with_nul;
    write_failures(with_nul, report, true);
    EXPECT_NE(with_nul.str().find("the answer holds a NUL byte at offset 32"), std::string::npos) << with_nul.str();

    // An untrusted server: -v points to `dvkc check` for -12 and -17 only.
    for (const std::int32_t code : {-12, -17, -9}) {
        report.batches[1].error = dvkc::Error(dvkc::Call::exchange, code);
        report.batches[1].answer.clear();
        std::ostringstream untrusted;
        write_failures(untrusted, report, true);
        EXPECT_EQ(untrusted.str().find("`dvkc check`") != std::string::npos, code != -9) << untrusted.str();
    }
}

}  // namespace
}  // namespace dvkc::tool
