// Signature sources, and the command runner behind --sign-command.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "batch/signature.h"
#include "common/subprocess.h"
#include "temp_dir.h"

namespace dvkc::tool {
namespace {

TEST(StripLineEnd, OneLineEndOnly)
{
    EXPECT_EQ(strip_line_end("sig\n"), "sig");
    EXPECT_EQ(strip_line_end("sig\r\n"), "sig");
    EXPECT_EQ(strip_line_end("sig\n\n"), "sig\n");
    EXPECT_EQ(strip_line_end("sig\r"), "sig\r");
    EXPECT_EQ(strip_line_end("\n"), "");
    EXPECT_EQ(strip_line_end(""), "");
}

TEST(SignCommand, GetsTheDocumentOnItsInput)
{
    const SignatureSource signer = SignatureSource::from_command("tr a-z A-Z");
    EXPECT_EQ(signer.sign("<DVKReq>abc</DVKReq>"), "<DVKREQ>ABC</DVKREQ>");
}

TEST(SignCommand, OpensslDigestOfTheDocument)
{
    // The same digest through the command and computed independently by sha1sum.
    const std::string document = "<DVKReq><ClientID>X</ClientID></DVKReq>";
    const SignatureSource signer = SignatureSource::from_command("openssl dgst -sha1 -r | cut -d' ' -f1");
    const ProcessResult reference = run_shell("sha1sum | cut -d' ' -f1", document);
    ASSERT_EQ(reference.exit_status, 0);
    EXPECT_EQ(signer.sign(document), strip_line_end(reference.out));
    EXPECT_EQ(signer.sign(document).size(), 40U);
}

TEST(SignCommand, OnlyOneTrailingNewlineRemoved)
{
    EXPECT_EQ(SignatureSource::from_command("printf 'a\\nb\\n\\n'").sign("x"), "a\nb\n");
}

TEST(SignCommand, LargeDocumentIgnoredByTheCommand)
{
    // The command exits without reading: the writer must not die of SIGPIPE.
    const std::string document(4U << 20U, 'd');
    EXPECT_EQ(SignatureSource::from_command("exec 0<&-; echo fixed").sign(document), "fixed");
}

TEST(SignCommand, LargeDocumentAndLargeOutput)
{
    const std::string document(3U << 20U, 'q');
    EXPECT_EQ(SignatureSource::from_command("cat").sign(document), document);
}

TEST(SignCommand, Failures)
{
    EXPECT_THROW(SignatureSource::from_command("cat >/dev/null; exit 3").sign("doc"), SignatureError);
    EXPECT_THROW(SignatureSource::from_command("true").sign("doc"), SignatureError);
    EXPECT_THROW(SignatureSource::from_command("echo").sign("doc"), SignatureError);
    EXPECT_THROW(SignatureSource::from_command("printf 'a\\0b'").sign("doc"), SignatureError);
    EXPECT_THROW(SignatureSource::from_command("kill -TERM $$").sign("doc"), SignatureError);
    EXPECT_THROW(SignatureSource::from_command("no-such-command-here-42").sign("doc"), SignatureError);
    try {
        SignatureSource::from_command("exit 7").sign("doc");
        FAIL() << "no exception";
    } catch (const SignatureError &e) {
        EXPECT_STREQ(e.what(), "the sign command exited with status 7");
    }
}

TEST(SignatureFile, ReadOnceWithoutItsLineEnd)
{
    const dvkc::sample::TempDir dir;
    const std::string path = dir.write_file("sig.txt", "c2lnbmF0dXJl\r\n");
    const SignatureSource signer = SignatureSource::from_file(path);
    std::filesystem::remove(path);
    EXPECT_EQ(signer.sign("whatever"), "c2lnbmF0dXJl");
    EXPECT_THROW(SignatureSource::from_file(path), SignatureError);
    EXPECT_THROW(SignatureSource::from_file(dir.write_file("nul.txt", std::string("a\0b", 3))), SignatureError);
}

TEST(SignatureText, Unchanged)
{
    EXPECT_EQ(SignatureSource::from_text("t e x t\n").sign("doc"), "t e x t\n");
}

TEST(RunProcess, ExitStatusStreamsAndMissingProgram)
{
    const ProcessResult result = run_shell("cat; echo oops >&2; exit 4", "in", true);
    EXPECT_EQ(result.exit_status, 4);
    EXPECT_EQ(result.out, "in");
    EXPECT_EQ(result.err, "oops\n");
    EXPECT_THROW(run_process({"/nonexistent/program"}, ""), std::system_error);
}

}  // namespace
}  // namespace dvkc::tool
