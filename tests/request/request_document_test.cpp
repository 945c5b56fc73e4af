#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "dvkc.h"
#include "host_errors.h"
#include "temp_dir.h"
#include "test_platform.h"

namespace {

using ::testing::AnyOf;

// The nonce generator's definition, written out independently of the library.
std::string reference_nonce(std::uint32_t seed)
{
    std::uint64_t state = seed;
    std::string out;
    for (int i = 0; i < 15; ++i) {
        state = (state * 214013 + 2531011) % 4294967296ULL;
        const int d = static_cast<int>((state >> 16) & 0x7FFF) % 62;
        out += static_cast<char>(d < 10 ? '0' + d : d < 36 ? 'A' + (d - 10) : 'a' + (d - 36));
    }
    return out;
}

std::uint32_t reference_seed(std::time_t now, std::int32_t modifier)
{
    const auto factor = static_cast<std::uint64_t>(static_cast<std::uint32_t>(modifier % 1000 + 1));
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(now)) * factor) %
                                      4294967296ULL);
}

// A table with a sentinel entry on each side, to prove nothing outside is written.
using Entry = std::pair<std::string, std::string>;

class Table {
public:
    Table(std::initializer_list<Entry> entries) : Table(std::vector<Entry>(entries)) {}
    explicit Table(const std::vector<Entry> &entries) : slots_(entries.size() + 2)
    {
        for (auto &slot : slots_) {
            std::memset(&slot, 0x5A, sizeof slot);
            slot.Code = 12345;
        }
        for (std::size_t i = 0; i < entries.size(); ++i) {
            QueryRecord &r = slots_[i + 1];
            std::memset(&r, 0, sizeof r);
            std::strncpy(r.SN, entries[i].first.c_str(), sizeof r.SN - 1);
            std::strncpy(r.SSID, entries[i].second.c_str(), sizeof r.SSID - 1);
            r.Code = 777;
        }
        std::memset(&ctx, 0, sizeof ctx);
        ctx.ErrID = 99;
        ctx.TotalCount = static_cast<std::int32_t>(entries.size());
        ctx.Records = slots_.data() + 1;
    }

    QueryRecord &record(std::size_t i) { return slots_[i + 1]; }

    void expect_sentinels_intact() const
    {
        for (const QueryRecord *s : {&slots_.front(), &slots_.back()}) {
            EXPECT_EQ(s->Code, 12345);
            for (std::size_t k = 0; k < sizeof s->SN; ++k) {
                EXPECT_EQ(static_cast<unsigned char>(s->SN[k]), 0x5A);
            }
        }
    }

    QueryContext ctx{};

private:
    std::vector<QueryRecord> slots_;
};

struct Built {
    std::int32_t rc = 0;
    std::string doc;
};

Built build(Table &table, const std::string &identity, std::int32_t modifier = 0)
{
    std::int32_t len = -7;
    char *buf = nullptr;
    Built b;
    dvkc::test::queue_host_errors();
    b.rc = iMake_DVKReqPKT(modifier, identity.c_str(), &table.ctx, &len, &buf);
    const std::string queue_after = dvkc::test::take_error_queue();
    EXPECT_EQ(queue_after, dvkc::test::host_errors_text()) << "the host's OpenSSL errors, and nothing of ours";
    if (b.rc == 0) {
        b.doc.assign(buf);
        EXPECT_EQ(static_cast<std::size_t>(len), b.doc.size());
        vFreeData(buf);
    } else {
        EXPECT_EQ(len, -7);
        EXPECT_EQ(buf, nullptr);
    }
    return b;
}

std::string header(const QueryContext &ctx, const std::string &count)
{
    return std::string("<DVKReq><ClientID>") + ctx.ClientID + "</ClientID><Nonce>" + ctx.Nonce + "</Nonce><ReqTime>" +
           ctx.ReqTime + "</ReqTime><TotalCount>" + count + "</TotalCount>";
}

class RequestDocument : public ::testing::Test {
protected:
    dvkc::sample::TempDir dir;
    std::string identity = dir.write_file("id", "abc");
};

TEST_F(RequestDocument, ExactDocumentForOneRecord)
{
    Table t{{"SN0001", "ID01"}};
    const Built b = build(t, identity);
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(b.doc, header(t.ctx, "1") + "<Rec><ID>0</ID><SN>SN0001</SN><SSID>ID01</SSID></Rec></DVKReq>");
    EXPECT_STREQ(t.ctx.ClientID, "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(t.ctx.ErrID, 0);
    EXPECT_EQ(t.record(0).Code, -1);
    t.expect_sentinels_intact();
}

// The host's marks come back on the entries that carried them.
class HostMarks : public ::testing::TestWithParam<dvkc::test::MarkedQueue> {};

TEST_P(HostMarks, ComeBackOnTheirEntries)
{
    if (!dvkc::test::marks_come_back_by_entry()) {
        GTEST_SKIP() << "this OpenSSL's error state is not read: the marks come back on the newest entry";
    }
    const dvkc::sample::TempDir dir;
    const std::string identity = dir.write_file("id", "abc");
    Table t{{"SN0001", "ID01"}};
    const auto build_request = [&] {
        std::int32_t len = 0;
        char *buf = nullptr;
        EXPECT_EQ(iMake_DVKReqPKT(0, identity.c_str(), &t.ctx, &len, &buf), 0);
        vFreeData(buf);
    };
    EXPECT_EQ(dvkc::test::marks_and_entries(GetParam(), [] {}), GetParam().expected) << "the host alone";
    EXPECT_EQ(dvkc::test::marks_and_entries(GetParam(), build_request), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(RequestDocument, HostMarks, ::testing::ValuesIn(dvkc::test::marked_queues()),
                         [](const ::testing::TestParamInfo<dvkc::test::MarkedQueue> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(RequestDocument, ExactDocumentForThreeRecordsInTableOrder)
{
    Table t{{"a", "1"}, {"<b&>", "x<y>"}, {"cccccccccccccccc", "dddddddddd"}};
    const Built b = build(t, identity);
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(b.doc, header(t.ctx, "3") +
                         "<Rec><ID>0</ID><SN>a</SN><SSID>1</SSID></Rec>"
                         "<Rec><ID>1</ID><SN><b&></SN><SSID>x<y></SSID></Rec>"
                         "<Rec><ID>2</ID><SN>cccccccccccccccc</SN><SSID>dddddddddd</SSID></Rec></DVKReq>");
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(t.record(i).Code, -1);
    }
    t.expect_sentinels_intact();
}

TEST_F(RequestDocument, FieldsWithoutNulAreReadToTheirWidth)
{
    Table t{{"", ""}};
    std::memset(t.record(0).SN, 'S', sizeof t.record(0).SN);      // 17 characters, no NUL
    std::memset(t.record(0).SSID, 'I', sizeof t.record(0).SSID);  // 11 characters, no NUL
    const Built b = build(t, identity);
    ASSERT_EQ(b.rc, 0);
    EXPECT_THAT(b.doc,
                ::testing::HasSubstr("<SN>" + std::string(16, 'S') + "</SN><SSID>" + std::string(10, 'I') + "</SSID>"));
}

TEST_F(RequestDocument, ZeroOrNegativeCountGivesHeaderAndClosingTagOnly)
{
    for (const std::int32_t count : {0, -1, -5, INT32_MIN}) {
        Table t(std::vector<Entry>{});
        t.ctx.TotalCount = count;
        t.ctx.Records = nullptr;
        const Built b = build(t, identity);
        ASSERT_EQ(b.rc, 0) << count;
        EXPECT_EQ(b.doc, header(t.ctx, std::to_string(count)) + "</DVKReq>");
    }
}

TEST_F(RequestDocument, ManyRecordsAreAllWritten)
{
    std::vector<Entry> entries;
    for (int i = 0; i < 2500; ++i) {
        entries.emplace_back(std::string(16, static_cast<char>('A' + i % 26)), std::string(10, 'z'));
    }
    Table t(entries);
    const Built b = build(t, identity);
    ASSERT_EQ(b.rc, 0);
    EXPECT_THAT(b.doc, ::testing::EndsWith("<Rec><ID>2499</ID><SN>" + std::string(16, 'A' + 2499 % 26) +
                                           "</SN><SSID>zzzzzzzzzz</SSID></Rec></DVKReq>"));
    t.expect_sentinels_intact();
}

TEST_F(RequestDocument, IsSizedExactlyAcrossIndexWidthsAndFieldLengths)
{
    // Index digits change width at 10, 100, 1000, 10000; fields run from
    // empty to full. A miscounted size would refuse the document.
    for (const std::size_t count : {1, 9, 10, 11, 99, 100, 101, 1000, 10001}) {
        std::vector<Entry> entries;
        for (std::size_t i = 0; i < count; ++i) {
            entries.emplace_back(std::string(i % 17, 'S'), std::string(i % 11, 'i'));
        }
        Table t(entries);
        EXPECT_EQ(build(t, identity).rc, 0) << count;
    }
}

struct IdentityCase {
    const char *name;
    std::string content;
    const char *client_id;
};

// GoogleTest would otherwise print the case's raw bytes, padding included.
void PrintTo(const IdentityCase &c, std::ostream *os)
{
    *os << c.name;
}

class ClientIdentity : public RequestDocument, public ::testing::WithParamInterface<IdentityCase> {};

std::string patterned(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 7 + 3) % 256);
    }
    return s;
}

TEST_P(ClientIdentity, IsUppercaseSha1OfTheFirst10240Bytes)
{
    Table t{{"s", "i"}};
    const Built b = build(t, dir.write_file(GetParam().name, GetParam().content));
    ASSERT_EQ(b.rc, 0);
    EXPECT_STREQ(t.ctx.ClientID, GetParam().client_id);
}

INSTANTIATE_TEST_SUITE_P(Files, ClientIdentity,
                         ::testing::Values(IdentityCase{"empty", "", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
                                           IdentityCase{"short", "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
                                           IdentityCase{"exact", patterned(10240),
                                                        "B3D6DB174B9E28A7CFF3E533ED9C2E3B92479029"},
                                           IdentityCase{"longer", patterned(10240) + "tail that must be ignored",
                                                        "B3D6DB174B9E28A7CFF3E533ED9C2E3B92479029"}),
                         [](const auto &info) { return std::string(info.param.name); });

// Run by the CTest entry request_without_sha1, whose OpenSSL configuration
// has no provider that offers SHA-1.
TEST_F(RequestDocument, DISABLED_WithoutSha1GivesMinusOneAndKeepsTheHostQueue)
{
    EVP_MD *sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    EVP_MD_free(sha1);
    ASSERT_EQ(sha1, nullptr) << "needs OPENSSL_CONF with the base provider only";
    Table t{{"s", "i"}};
    EXPECT_EQ(build(t, identity).rc, DVKC_BUILD_IDENTITY_UNREADABLE);
    EXPECT_EQ(t.record(0).Code, 777);
}

// Runs `body` until the clock did not move across it, so that the nonce's
// seed second is known.
template <typename Body>
std::time_t within_one_second(Body &&body)
{
    for (;;) {
        const std::time_t before = std::time(nullptr);
        body();
        if (std::time(nullptr) == before) {
            return before;
        }
    }
}

TEST_F(RequestDocument, NonceFollowsTheGeneratorForEachModifier)
{
    for (const std::int32_t modifier : {0, 5, 1005, 999, -1, -1001, 123456, INT32_MIN}) {
        Table t{{"s", "i"}};
        const std::time_t now = within_one_second([&] { ASSERT_EQ(build(t, identity, modifier).rc, 0); });
        EXPECT_EQ(std::string(t.ctx.Nonce), reference_nonce(reference_seed(now, modifier))) << modifier;
    }
}

TEST_F(RequestDocument, ModifiersDifferingByAThousandGiveTheSameNonce)
{
    Table a{{"s", "i"}};
    Table b{{"s", "i"}};
    within_one_second([&] {
        build(a, identity, 5);
        build(b, identity, 1005);
    });
    EXPECT_STREQ(a.ctx.Nonce, b.ctx.Nonce);
}

TEST_F(RequestDocument, MinusOneSeedsWithZero)
{
    Table t{{"s", "i"}};
    ASSERT_EQ(build(t, identity, -1).rc, 0);
    EXPECT_EQ(std::string(t.ctx.Nonce), reference_nonce(0));
}

TEST_F(RequestDocument, HostRandSequenceIsUntouched)
{
    std::srand(4242);
    const int first = std::rand();
    const int second = std::rand();
    std::srand(4242);
    Table t{{"s", "i"}};
    ASSERT_EQ(build(t, identity).rc, 0);
    EXPECT_EQ(std::rand(), first);
    EXPECT_EQ(std::rand(), second);
}

// Sets TZ for one test and restores the previous setting afterwards.
class ScopedTz {
public:
    explicit ScopedTz(const char *value)
    {
        if (const char *old = std::getenv("TZ")) {
            saved_ = old;
            had_ = true;
        }
        set(value);
    }
    ~ScopedTz()
    {
        set(had_ ? saved_.c_str() : nullptr);
        tzset();
    }
    static void set(const char *value) { dvkc::test::set_environment("TZ", value); }

private:
    std::string saved_;
    bool had_ = false;
};

std::string utc_plus(std::time_t when, long offset_seconds)
{
    const std::time_t shifted = when + offset_seconds;
    std::tm tm{};
    dvkc::test::utc_time(shifted, tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &tm);
    return text;
}

TEST_F(RequestDocument, ReqTimeIsLocalTimeUnderTz)
{
    struct Zone {
        const char *tz;
        long offset;
    };
    for (const Zone zone : {Zone{"UTC0", 0}, Zone{"XYZ-9", 9 * 3600}, Zone{"ABC+5:30", -(5 * 3600 + 1800)}}) {
        ScopedTz tz(zone.tz);
        Table t{{"s", "i"}};
        const std::time_t now = within_one_second([&] { ASSERT_EQ(build(t, identity).rc, 0); });
        EXPECT_EQ(std::string(t.ctx.ReqTime), utc_plus(now, zone.offset)) << zone.tz;
    }
}

TEST_F(RequestDocument, EmptyTzKeepsThePreviousZone)
{
    if (!dvkc::test::environment_keeps_empty_values()) {
        GTEST_SKIP() << "an empty TZ cannot be set here: setting it empty removes it";
    }
    ScopedTz tz("XYZ-9");
    Table first{{"s", "i"}};
    ASSERT_EQ(build(first, identity).rc, 0);
    ScopedTz::set("");
    Table t{{"s", "i"}};
    const std::time_t now = within_one_second([&] { ASSERT_EQ(build(t, identity).rc, 0); });
    EXPECT_EQ(std::string(t.ctx.ReqTime), utc_plus(now, 9 * 3600));
}

TEST_F(RequestDocument, MissingIdentityFileResetsOnlyErrId)
{
    Table t{{"s", "i"}};
    std::memset(t.ctx.ClientID, 'q', sizeof t.ctx.ClientID);
    const Built b = build(t, (dir.path() / "absent").string());
    EXPECT_EQ(b.rc, -1);
    EXPECT_EQ(t.ctx.ErrID, 0);
    EXPECT_EQ(t.ctx.ClientID[0], 'q');
    EXPECT_EQ(t.record(0).Code, 777);
}

TEST_F(RequestDocument, NullArgumentsChangeNothing)
{
    Table t{{"s", "i"}};
    std::int32_t len = -7;
    char *buf = nullptr;
    EXPECT_EQ(iMake_DVKReqPKT(0, nullptr, &t.ctx, &len, &buf), -1);
    EXPECT_EQ(iMake_DVKReqPKT(0, identity.c_str(), nullptr, &len, &buf), -1);
    EXPECT_EQ(iMake_DVKReqPKT(0, identity.c_str(), &t.ctx, nullptr, &buf), -1);
    EXPECT_EQ(iMake_DVKReqPKT(0, identity.c_str(), &t.ctx, &len, nullptr), -1);
    t.ctx.Records = nullptr;
    EXPECT_EQ(iMake_DVKReqPKT(0, identity.c_str(), &t.ctx, &len, &buf), -1);
    EXPECT_EQ(t.ctx.ErrID, 99);
    EXPECT_EQ(len, -7);
    EXPECT_EQ(buf, nullptr);
}

}  // namespace
