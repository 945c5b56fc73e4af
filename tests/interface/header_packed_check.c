/* A host that compiles with tight packing (#pragma pack(1), /Zp1) still sees
 * the layout the library was built with: the header pins its own packing. */
#include <stddef.h>

#pragma pack(push, 1)
#include "dvkc.h"
#pragma pack(pop)

#define PACKED_CHECK(name, cond) typedef char packed_check_##name[(cond) ? 1 : -1]

PACKED_CHECK(code, offsetof(QueryRecord, Code) == 28);
PACKED_CHECK(record_size, sizeof(QueryRecord) == 32);
PACKED_CHECK(err_id, offsetof(QueryContext, ErrID) == 132);
PACKED_CHECK(total_count, offsetof(QueryContext, TotalCount) == 136);
PACKED_CHECK(records, offsetof(QueryContext, Records) == 144);
PACKED_CHECK(context_size, sizeof(QueryContext) == 152);
