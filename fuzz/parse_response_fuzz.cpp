// Feeds arbitrary answers to the parser. The first four input bytes choose the
// length argument; the rest is the answer text. Any over-read, write outside
// the table, or change to the answer text is a crash.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dvkc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    std::int32_t len = 0;
    std::memcpy(&len, data, 4);
    // Exactly-sized heap copy so that ASan catches any read past the NUL.
    const std::size_t n = size - 4;
    std::vector<char> text(data + 4, data + size);
    text.push_back('\0');
    const std::vector<char> before = text;

    std::vector<QueryRecord> table(8);
    QueryContext ctx{};
    std::strcpy(ctx.ClientID, "0123456789ABCDEF0123456789ABCDEF01234567");
    std::strcpy(ctx.Nonce, "abcDEF123456789");
    ctx.TotalCount = static_cast<std::int32_t>(table.size());
    ctx.Records = table.data();
    iParse_DVKResponsePKT(&ctx, len, text.data());
    if (std::memcmp(text.data(), before.data(), n + 1) != 0) {
        std::abort();
    }
    return 0;
}
