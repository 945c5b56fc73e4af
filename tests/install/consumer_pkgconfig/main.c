/* A C host built with the flags of `pkg-config dvkc`. */
#include <dvkc.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    QueryRecord record;
    QueryContext ctx;
    char *doc = NULL;
    int32_t len = 0;
    char hex[7];
    const unsigned char bytes[3] = {0x00, 0xAB, 0xFF};
    (void)argc;
    memset(&record, 0, sizeof record);
    memset(&ctx, 0, sizeof ctx);
    strcpy(record.SN, "SN-1");
    strcpy(record.SSID, "ABC");
    ctx.TotalCount = 1;
    ctx.Records = &record;
    bin2hex(bytes, 3, hex);
    if (iMake_DVKReqPKT(1, argv[0], &ctx, &len, &doc) != 0) {
        return 1;
    }
    printf("hex %s code %d document %d\n", hex, (int)record.Code, (int)(strstr(doc, "<SN>SN-1</SN>") != NULL));
    vFreeData(doc);
    return 0;
}
