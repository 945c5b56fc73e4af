/* Builds a request for three records, wraps it with a placeholder signature,
 * and parses a canned answer that echoes the request, printing each code.
 * No network is involved. Usage: example_offline [identity-file] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dvkc.h"

int main(int argc, char **argv)
{
    /* Any file identifies the client; this program's own binary will do. */
    const char *identity = argc > 1 ? argv[1] : argv[0];
    QueryRecord records[3];
    QueryContext ctx;
    char *doc = NULL, *envelope = NULL;
    int32_t doc_len = 0, envelope_len = 0, rc, i;
    char answer[2048];

    memset(records, 0, sizeof records);
    memset(&ctx, 0, sizeof ctx);
    strcpy(records[0].SN, "SN-0001");
    strcpy(records[0].SSID, "A123");
    strcpy(records[1].SN, "SN-0002");
    strcpy(records[1].SSID, "B456");
    strcpy(records[2].SN, "SN-0003");
    strcpy(records[2].SSID, "C789");
    ctx.TotalCount = 3;
    ctx.Records = records;

    rc = iMake_DVKReqPKT(42, identity, &ctx, &doc_len, &doc);
    if (rc != 0) {
        fprintf(stderr, "iMake_DVKReqPKT failed: %d\n", (int)rc);
        return 1;
    }
    printf("document (%d bytes): %s\n", (int)doc_len, doc);

    rc = iMake_DVKRequestPKT(doc_len, doc, 9, "SIGNATURE", &envelope_len, &envelope);
    vFreeData(doc);
    if (rc != 0) {
        fprintf(stderr, "iMake_DVKRequestPKT failed: %d\n", (int)rc);
        return 1;
    }
    printf("envelope: %d bytes\n", (int)envelope_len);
    vFreeData(envelope);

    /* What the service would answer: our ClientID and Nonce echoed back. */
    snprintf(answer, sizeof answer,
             "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n"
             "<DVKResponse><ClientID>%s</ClientID><Nonce>%s</Nonce>"
             "<ReqTime>%s</ReqTime><TotalCount>3</TotalCount>"
             "<Rec><ID>0</ID><SN>SN-0001</SN><SSID4>A123</SSID4><Code>0</Code></Rec>"
             "<Rec><ID>1</ID><SN>SN-0002</SN><SSID4>B456</SSID4><Code>17</Code></Rec>"
             "<Rec><ID>2</ID><SN>SN-0003</SN><SSID4>C789</SSID4><Code>-5</Code></Rec>"
             "</DVKResponse>",
             ctx.ClientID, ctx.Nonce, ctx.ReqTime);
    rc = iParse_DVKResponsePKT(&ctx, (int32_t)strlen(answer), answer);
    if (rc != 0) {
        fprintf(stderr, "iParse_DVKResponsePKT returned %d\n", (int)rc);
        return 1;
    }
    printf("%-16s %-10s %s\n", "SN", "SSID", "Code");
    for (i = 0; i < ctx.TotalCount; ++i) {
        printf("%-16s %-10s %d\n", records[i].SN, records[i].SSID, (int)records[i].Code);
    }
    return 0;
}
