// iMake_DVKRequestPKT: wraps a request document and the host's signature:
//   <DVKRequest>doc<DVKReqLength>n</DVKReqLength><Signature>sig</Signature></DVKRequest>
#include <cstring>
#include <string_view>

#include "dvkc.h"
#include "interface/guard.h"
#include "interface/text_buffer.h"

namespace {

constexpr std::string_view kOpen = "<DVKRequest>";
constexpr std::string_view kLengthOpen = "<DVKReqLength>";
constexpr std::string_view kSignatureOpen = "</DVKReqLength><Signature>";
constexpr std::string_view kClose = "</Signature></DVKRequest>";

}  // namespace

extern "C" int32_t iMake_DVKRequestPKT(int32_t doc_len, const char *doc, int32_t /*sig_len*/, const char *sig,
                                       int32_t *out_len, char **out_buf) noexcept
{
    DVKC_REQUIRE_NONNULL(doc, DVKC_WRAP_NO_MEMORY);
    DVKC_REQUIRE_NONNULL(sig, DVKC_WRAP_NO_MEMORY);
    DVKC_REQUIRE_NONNULL(out_len, DVKC_WRAP_NO_MEMORY);
    DVKC_REQUIRE_NONNULL(out_buf, DVKC_WRAP_NO_MEMORY);

    // The texts are copied up to their NULs, so the buffer is sized from
    // them: a length argument that understates its text cannot overflow it.
    const std::string_view document(doc);
    const std::string_view signature(sig);
    const std::size_t capacity = kOpen.size() + document.size() + kLengthOpen.size() + dvkc::decimal_length(doc_len) +
                                 kSignatureOpen.size() + signature.size() + kClose.size();
    if (capacity > INT32_MAX) {
        return DVKC_WRAP_NO_MEMORY;  // its length could not be reported
    }
    dvkc::TextBuffer envelope(capacity);
    if (!envelope.ok()) {
        return DVKC_WRAP_NO_MEMORY;
    }
    envelope.append(kOpen);
    envelope.append(document);
    envelope.append(kLengthOpen);
    envelope.append(std::int64_t{doc_len});
    envelope.append(kSignatureOpen);
    envelope.append(signature);
    envelope.append(kClose);
    if (envelope.overflowed()) {
        return DVKC_WRAP_NO_MEMORY;  // the sizing above did not hold: hand out nothing
    }

    *out_len = static_cast<int32_t>(envelope.size());
    *out_buf = envelope.release();
    return DVKC_WRAP_OK;
}
