/* Compiled as strict C99: the public header must be plain C with the same
 * record layout that the library was built with, even for a host that packs
 * tightly (#pragma pack(1), /Zp1), with 64-bit or 32-bit pointers (Windows
 * x86 builds it with the i686 compiler), and its results usable from C. */
#include <stddef.h>

#pragma pack(push, 1)
#include "dvkc.h"
#pragma pack(pop)

#define LAYOUT_CHECK(name, cond) typedef char layout_check_##name[(cond) ? 1 : -1]

LAYOUT_CHECK(sn, offsetof(QueryRecord, SN) == 0);
LAYOUT_CHECK(ssid, offsetof(QueryRecord, SSID) == 17);
LAYOUT_CHECK(code, offsetof(QueryRecord, Code) == 28);
LAYOUT_CHECK(record_size, sizeof(QueryRecord) == 32);
LAYOUT_CHECK(client_id, offsetof(QueryContext, ClientID) == 0);
LAYOUT_CHECK(nonce, offsetof(QueryContext, Nonce) == 101);
LAYOUT_CHECK(req_time, offsetof(QueryContext, ReqTime) == 117);
LAYOUT_CHECK(err_id, offsetof(QueryContext, ErrID) == 132);
LAYOUT_CHECK(total_count, offsetof(QueryContext, TotalCount) == 136);
LAYOUT_CHECK(pointer_size, sizeof(QueryRecord *) == 8 || sizeof(QueryRecord *) == 4);
LAYOUT_CHECK(records, offsetof(QueryContext, Records) == (sizeof(QueryRecord *) == 8 ? 144 : 140));
LAYOUT_CHECK(context_size, sizeof(QueryContext) == (sizeof(QueryRecord *) == 8 ? 152 : 144));

const char *c99_result_words(void);
const char *c99_result_words(void)
{
    return dvkc_result_words(DVKC_CALL_PARSE, DVKC_PARSE_NONCE_FOREIGN);
}
