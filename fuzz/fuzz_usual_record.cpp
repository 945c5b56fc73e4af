// Runs the one-pass reader of a record in the usual layout and the general
// tag searches on the same record, and requires the same result.
// Input: the text that follows "<Rec>" (up to its first NUL).
// Properties: whenever the one-pass reader accepts the record, the general
// reading (the "<Rec>" text within 500 characters, cut to 100, then each
// field by its tags) accepts it too with the same Code; the reader's end is
// just past the first "</Rec>", and no "<Rec>" starts before it.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "response/read_number.h"
#include "response/tag_scan.h"
#include "response/usual_record.h"

using dvkc::fuzz::require;

namespace {

// The general reading of one record's text; false where it fails.
bool general_reading(const char *rec_at, std::int32_t &code)
{
    char rec[dvkc::UsualRecord::kTextChars + 1];
    if (dvkc::iGetTagText(rec_at, "<Rec>", "</Rec>", static_cast<std::int32_t>(dvkc::UsualRecord::kCloseWithin), rec,
                          static_cast<std::int32_t>(dvkc::UsualRecord::kTextChars)) == 0) {
        return false;
    }
    char id[6];
    char sn[17];
    char ssid4[5];
    char code_text[11];
    if (dvkc::iGetTagText(rec, "<ID>", "</ID>", 0, id, 5) == 0 ||
        dvkc::iGetTagText(rec, "<SN>", "</SN>", 0, sn, 16) == 0 ||
        dvkc::iGetTagText(rec, "<SSID4>", "</SSID4>", 0, ssid4, 4) == 0 ||
        dvkc::iGetTagText(rec, "<Code>", "</Code>", 0, code_text, 10) == 0) {
        return false;
    }
    if (!(code_text[0] == '-' || (code_text[0] >= '0' && code_text[0] <= '9'))) {
        return false;
    }
    code = dvkc::read_number(code_text);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    dvkc::fuzz::Input input(data, size);
    const std::string body = input.bytes();
    const std::string whole = "<Rec>" + std::string(body.c_str());
    std::vector<char> text(whole.c_str(), whole.c_str() + whole.size() + 1);  // exactly sized for ASan
    const char *const rec_at = text.data();
    const char *const end = rec_at + whole.size();

    std::int32_t one_pass_code = 0;
    const char *after = nullptr;
    if (!dvkc::UsualRecord::read(rec_at, end, one_pass_code, after)) {
        return 0;  // left to the general reading, which decides alone
    }
    std::int32_t general_code = 0;
    require(general_reading(rec_at, general_code));
    require(general_code == one_pass_code);
    const char *close = dvkc::pFindTag(rec_at, "</Rec>", 0);
    require(close != nullptr && after == close + 6);
    const char *next = dvkc::pFindTag(rec_at + 1, "<Rec>", 0);
    require(next == nullptr || next >= after);
    return 0;
}
