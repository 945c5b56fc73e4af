// Wraps arbitrary documents and signatures with arbitrary length arguments.
// Input: document length argument (int32), signature length argument
// (int32), the document (16-bit length and bytes), then the signature; both
// end at their first NUL, as a C caller's texts would.
// Properties: the envelope is exactly the one built here, the inputs unchanged.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dvkc.h"
#include "fuzz_input.h"

using dvkc::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    dvkc::fuzz::Input input(data, size);
    const auto doc_len = input.integer<std::int32_t>();
    const auto sig_len = input.integer<std::int32_t>();
    const std::vector<char> doc = input.text(false);
    const std::vector<char> sig = input.text(true);
    const std::vector<char> doc_before = doc;
    const std::vector<char> sig_before = sig;

    const std::string expected = "<DVKRequest>" + std::string(doc.data()) + "<DVKReqLength>" + std::to_string(doc_len) +
                                 "</DVKReqLength><Signature>" + std::string(sig.data()) + "</Signature></DVKRequest>";

    std::int32_t out_len = -7;
    char *out = nullptr;
    const std::int32_t result = iMake_DVKRequestPKT(doc_len, doc.data(), sig_len, sig.data(), &out_len, &out);
    require(result == DVKC_WRAP_OK && out != nullptr);
    require(out_len >= 0 && static_cast<std::size_t>(out_len) == expected.size());
    require(std::memcmp(out, expected.data(), expected.size() + 1) == 0);  // the NUL too
    require(doc == doc_before && sig == sig_before);
    vFreeData(out);
    return 0;
}
