/* The host program shown in README.md: one whole query against a service. */
#include <stdio.h>
#include <string.h>
#include "dvkc.h"

int main(void)
{
    QueryRecord recs[2] = {{"SN-0001", "A123", 0}, {"SN-0002", "B456", 0}};
    QueryContext ctx;
    char *doc, *env, *answer;
    int32_t doc_len, env_len, answer_len, rc;

    memset(&ctx, 0, sizeof ctx);
    ctx.TotalCount = 2;
    ctx.Records = recs;
    if ((rc = iMake_DVKReqPKT(1234, "identity.bin", &ctx, &doc_len, &doc)) != 0)
        return fprintf(stderr, "build: %d\n", rc), 1;
    const char *sig = "signature-computed-by-the-host"; /* over doc, by your own means */
    rc = iMake_DVKRequestPKT(doc_len, doc, (int32_t)strlen(sig), sig, &env_len, &env);
    vFreeData(doc);
    if (rc != 0)
        return fprintf(stderr, "wrap: %d\n", rc), 1;
    rc = iSSL_SendThenRecv("127.0.0.1", 8443, "trust.pem", "/dvk", env_len, env, &answer_len, &answer);
    vFreeData(env);
    if (rc != 0)
        return fprintf(stderr, "exchange: %d\n", rc), 1;
    rc = iParse_DVKResponsePKT(&ctx, answer_len, answer);
    vFreeData(answer);
    if (rc == 2000)
        return fprintf(stderr, "service error %d\n", ctx.ErrID), 1;
    if (rc != 0)
        return fprintf(stderr, "answer rejected: %d\n", rc), 1;
    for (int i = 0; i < ctx.TotalCount; ++i)
        printf("%s %s %d\n", recs[i].SN, recs[i].SSID, recs[i].Code);
    return 0;
}
