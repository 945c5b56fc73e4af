// The tool's CSV reader: splitting, headers, and every rejection with its line.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/csv.h"

namespace dvkc::tool {
namespace {

struct RecordsFile {
    std::vector<InputRecord> records;
    std::vector<LineError> errors;
};

RecordsFile records_from(const std::string &text)
{
    std::istringstream in(text);
    RecordReader reader(in);
    RecordsFile file;
    InputRecord record;
    LineError error;
    for (RecordReader::Step step; (step = reader.next(record, error)) != RecordReader::Step::end;) {
        if (step == RecordReader::Step::record) {
            file.records.push_back(record);
        } else {
            file.errors.push_back(error);
        }
    }
    return file;
}

TEST(SplitCsvLine, PlainQuotedAndSpacedFields)
{
    EXPECT_EQ(split_csv_line("a,b").fields, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(split_csv_line("  a ,\tb  ").fields, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(split_csv_line("\" a \", \"b\"").fields, (std::vector<std::string>{" a ", "b"}));
    EXPECT_EQ(split_csv_line("\"x\"\"y\",z").fields, (std::vector<std::string>{"x\"y", "z"}));
    EXPECT_EQ(split_csv_line("\"1,2\",z").fields, (std::vector<std::string>{"1,2", "z"}));
    EXPECT_EQ(split_csv_line("a,b\r").fields, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(split_csv_line("a,").fields, (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(split_csv_line(",").fields, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(split_csv_line("a").fields, (std::vector<std::string>{"a"}));
}

TEST(SplitCsvLine, BrokenQuotesAreErrors)
{
    EXPECT_EQ(split_csv_line("\"abc,d").error, "unterminated quote in field 1");
    EXPECT_EQ(split_csv_line("a,\"b").error, "unterminated quote in field 2");
    EXPECT_EQ(split_csv_line("\"a\"x,b").error, "text after the closing quote of field 1");
    EXPECT_EQ(split_csv_line("a\"b,c").error, "a quote inside the unquoted field 1");
    EXPECT_TRUE(split_csv_line("\"a\"x,b").fields.empty());
}

TEST(ReadRecords, HeaderBlankLinesAndLineNumbers)
{
    const RecordsFile file = records_from("SN,SSID\r\n\nSN-1,A1\r\n   \n\"SN-2\",\"B 2\"\nsn,ssid\n");
    ASSERT_TRUE(file.errors.empty()) << format_line_error(file.errors.front());
    ASSERT_EQ(file.records.size(), 3U);
    EXPECT_EQ(file.records[0].sn, "SN-1");
    EXPECT_EQ(file.records[0].line, 3U);
    EXPECT_EQ(file.records[1].ssid, "B 2");
    EXPECT_EQ(file.records[1].line, 5U);
    // A header is only recognised on the first line with content.
    EXPECT_EQ(file.records[2].sn, "sn");
    EXPECT_EQ(file.records[2].line, 6U);
}

TEST(ReadRecords, NoHeaderAndNoFinalNewline)
{
    const RecordsFile file = records_from("ssid,sn");
    ASSERT_EQ(file.records.size(), 1U);
    EXPECT_EQ(file.records[0].sn, "ssid");
}

TEST(ReadRecords, LimitsAreInclusiveAfterAByteOrderMark)
{
    const RecordsFile longest = records_from("A," + std::string(4094 - 2, ' ') + "B\r\n");
    ASSERT_TRUE(longest.errors.empty());
    EXPECT_EQ(longest.records[0].ssid, "B");
    const RecordsFile file =
        records_from("\xEF\xBB\xBFSN,SSID\n" + std::string(16, 'S') + "," + std::string(10, 'I') + "\n");
    ASSERT_TRUE(file.errors.empty());
    EXPECT_EQ(file.records[0].sn.size(), 16U);
    EXPECT_EQ(file.records[0].ssid.size(), 10U);
}

struct Rejection {
    std::string line;
    std::string message;
};

void PrintTo(const Rejection &rejection, std::ostream *out)
{
    *out << rejection.message;
}

class ReadRecordsRejects : public testing::TestWithParam<Rejection> {};

TEST_P(ReadRecordsRejects, WithLineNumber)
{
    // Two good lines first, the bad one on line 3, a good one after it.
    const RecordsFile file = records_from("A,1\nB,2\n" + GetParam().line + "\nC,3\n");
    ASSERT_EQ(file.errors.size(), 1U);
    EXPECT_EQ(file.errors[0].line, 3U);
    EXPECT_EQ(file.errors[0].message, GetParam().message);
    EXPECT_EQ(format_line_error(file.errors[0]), "line 3: " + GetParam().message);
    EXPECT_EQ(file.records.size(), 3U);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadRecordsRejects,
    testing::Values(Rejection{std::string(17, 'S') + ",X", "SN is longer than 16 bytes (17)"},
                    Rejection{"S," + std::string(11, 'I'), "SSID is longer than 10 bytes (11)"},
                    Rejection{"\"S,N\",X", "SN holds a comma"}, Rejection{"S,\"a\"\"b\"", "SSID holds a quote"},
                    Rejection{"S,\"a\tb\"", "SSID holds a control character"},
                    Rejection{std::string("S\x01,X"), "SN holds a control character"}, Rejection{",X", "SN is empty"},
                    Rejection{"S,\"\"", "SSID is empty"}, Rejection{"S", "expected 2 fields (SN,SSID), found 1"},
                    Rejection{"S,X,Y", "expected 2 fields (SN,SSID), found 3"},
                    Rejection{"\"S,X", "unterminated quote in field 1"},
                    Rejection{"S\"1,X", "a quote inside the unquoted field 1"},
                    Rejection{"A<B,X", "SN holds '<', which the query cannot carry"},
                    Rejection{"S,a>b", "SSID holds '>', which the query cannot carry"},
                    Rejection{"S,a&b", "SSID holds '&', which the query cannot carry"},
                    Rejection{"S\xff,X", "SN is not valid UTF-8 (byte 2)"},
                    // Refused as soon as it is too long, without keeping it: one past the limit,
                    // and a line of ten million commas.
                    Rejection{std::string(4097, ' '), "longer than 4096 bytes"},
                    Rejection{std::string(10'000'000, ','), "longer than 4096 bytes"},
                    Rejection{"S,\xc3", "SSID is not valid UTF-8 (byte 1)"},
                    Rejection{"\xed\xa0\x80,X", "SN is not valid UTF-8 (byte 1)"},  // a surrogate
                    Rejection{"S,a\xc0\xaf", "SSID is not valid UTF-8 (byte 2)"},   // overlong
                    Rejection{"S,\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9zz", "SSID is longer than 10 bytes (12)"}));

TEST(ReadRecords, EveryBadLineIsReported)
{
    const RecordsFile file = records_from("SN,SSID\n" + std::string(20, 'x') + ",1\nok,1\n,\na,b,c\n");
    ASSERT_EQ(file.errors.size(), 3U);
    EXPECT_EQ(file.errors[0].line, 2U);
    EXPECT_EQ(file.errors[1].line, 4U);
    EXPECT_EQ(file.errors[2].line, 5U);
    EXPECT_EQ(file.records.size(), 1U);
}

TEST(ReadCodes, ValuesHeaderAndRejections)
{
    std::istringstream in("SN,Code\nA,0\nB,-5\nC,2147483647\nD,2147483648\nE,7x\nA,1\nF,\n");
    const CodesFile file = read_codes(in);
    ASSERT_EQ(file.entries.size(), 3U);
    EXPECT_EQ(file.entries[1].code, -5);
    EXPECT_EQ(file.entries[2].code, 2147483647);
    ASSERT_EQ(file.errors.size(), 4U);
    EXPECT_EQ(file.errors[0].line, 5U);
    EXPECT_EQ(file.errors[1].line, 6U);
    EXPECT_EQ(file.errors[2].message, "SN A was already given on line 2");
    EXPECT_EQ(file.errors[3].line, 8U);
}

}  // namespace
}  // namespace dvkc::tool
