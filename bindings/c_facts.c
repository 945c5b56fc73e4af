/*
 * What a C compiler makes of dvkc.h, for the bindings' tests to compare
 * their own declarations with: the size and field offsets of both structures
 * and every row of DVKC_RESULTS, one tab-separated line each:
 *   size <struct> <bytes>
 *   offset <struct> <field> <bytes>
 *   result <call> <name> <value> <words>
 * to standard output or to the file named by the first argument.
 */
#include <stddef.h>
#include <stdio.h>

#include "dvkc.h"

#define OFFSET(type, field) printf("offset\t%s\t%s\t%zu\n", #type, #field, offsetof(type, field))
#define RESULT_ROW(call, name, value, words)                                                                           \
    printf("result\t%s\t%s\t%d\t%s\n", #call, #name, (int)(value), dvkc_result_words(DVKC_CALL_##call, (value)));

int main(int argc, char **argv)
{
    if (argc > 1 && !freopen(argv[1], "w", stdout)) {
        perror(argv[1]);
        return 1;
    }
    printf("size\tQueryRecord\t%zu\n", sizeof(QueryRecord));
    OFFSET(QueryRecord, SN);
    OFFSET(QueryRecord, SSID);
    OFFSET(QueryRecord, Code);
    printf("size\tQueryContext\t%zu\n", sizeof(QueryContext));
    OFFSET(QueryContext, ClientID);
    OFFSET(QueryContext, Nonce);
    OFFSET(QueryContext, ReqTime);
    OFFSET(QueryContext, ErrID);
    OFFSET(QueryContext, TotalCount);
    OFFSET(QueryContext, Records);
    DVKC_RESULTS(RESULT_ROW)
    return 0;
}
