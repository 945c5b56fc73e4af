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
static_assert(offsetof(QueryContext, Records) == 144);
static_assert(sizeof(QueryContext) == 152);
static_assert(sizeof(int32_t) == 4);
