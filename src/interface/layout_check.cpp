// The record layouts are shared with hosts written in any language: pin them.
#include <cstddef>

#include "dvkc.h"

static_assert(offsetof(QueryRecord, SN) == 0);
static_assert(offsetof(QueryRecord, SSID) == 17);
static_assert(offsetof(QueryRecord, Code) == 28);
static_assert(sizeof(QueryRecord) == 32);

static_assert(offsetof(QueryContext, ClientID) == 0);
static_assert(offsetof(QueryContext, Nonce) == 101);
static_assert(offsetof(QueryContext, ReqTime) == 117);
static_assert(offsetof(QueryContext, ErrID) == 132);
static_assert(offsetof(QueryContext, TotalCount) == 136);
// The record table's address is the one field whose size follows the
// platform: 8 bytes at 144 with 64-bit pointers, 4 bytes at 140 with 32-bit
// ones (Windows x86).
static_assert(sizeof(QueryRecord *) == 8 || sizeof(QueryRecord *) == 4);
static_assert(offsetof(QueryContext, Records) == (sizeof(QueryRecord *) == 8 ? 144 : 140));
static_assert(sizeof(QueryContext) == (sizeof(QueryRecord *) == 8 ? 152 : 144));
static_assert(sizeof(int32_t) == 4);
