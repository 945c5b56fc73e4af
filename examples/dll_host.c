/* A Windows host that loads DVKCDLL.dll at run time (LoadLibrary and
 * GetProcAddress, no import library) and runs one whole query:
 *
 *   dll_host DVKCDLL.dll HOST PORT TRUST.pem IDENTITY
 *
 * It prints "SN SSID Code" per record; the exit status is 0 on success. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "dvkc.h"

typedef int32_t (*MakeReqFn)(int32_t, const char *, QueryContext *, int32_t *, char **);
typedef int32_t (*MakeRequestFn)(int32_t, const char *, int32_t, const char *, int32_t *, char **);
typedef int32_t (*SendThenRecvFn)(const char *, int32_t, const char *, const char *, int32_t, const char *, int32_t *,
                                  char **);
typedef int32_t (*ParseFn)(QueryContext *, int32_t, const char *);
typedef void (*FreeFn)(void *);

/* GetProcAddress's result as the generic function pointer type, which
 * converts to any other function pointer type without a warning. */
typedef void (*AnyFn)(void);
static AnyFn find(HMODULE dll, const char *name)
{
    FARPROC proc = GetProcAddress(dll, name);
    if (proc == NULL) {
        fprintf(stderr, "DVKCDLL.dll has no %s\n", name);
        exit(2);
    }
    return (AnyFn)proc;
}

int main(int argc, char **argv)
{
    QueryRecord recs[2] = {{"SN-0001", "A123", 0}, {"DEV42-7781", "WIFI-HOME", 0}};
    const char *sig = "signature-computed-by-the-host";
    QueryContext ctx;
    char *doc, *env, *answer;
    int32_t doc_len, env_len, answer_len, rc;
    MakeReqFn make_req;
    MakeRequestFn make_request;
    SendThenRecvFn send_then_recv;
    ParseFn parse;
    FreeFn free_data;
    HMODULE dll;
    int i;

    if (argc != 6) {
        fprintf(stderr, "usage: dll_host DVKCDLL.dll HOST PORT TRUST.pem IDENTITY\n");
        return 2;
    }
    dll = LoadLibraryA(argv[1]);
    if (dll == NULL) {
        fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], (unsigned long)GetLastError());
        return 2;
    }
    make_req = (MakeReqFn)find(dll, "iMake_DVKReqPKT");
    make_request = (MakeRequestFn)find(dll, "iMake_DVKRequestPKT");
    send_then_recv = (SendThenRecvFn)find(dll, "iSSL_SendThenRecv");
    parse = (ParseFn)find(dll, "iParse_DVKResponsePKT");
    free_data = (FreeFn)find(dll, "vFreeData");

    memset(&ctx, 0, sizeof ctx);
    ctx.TotalCount = 2;
    ctx.Records = recs;
    if ((rc = make_req(1234, argv[5], &ctx, &doc_len, &doc)) != 0)
        return fprintf(stderr, "build: %d\n", rc), 1;
    rc = make_request(doc_len, doc, (int32_t)strlen(sig), sig, &env_len, &env);
    free_data(doc);
    if (rc != 0)
        return fprintf(stderr, "wrap: %d\n", rc), 1;
    rc = send_then_recv(argv[2], atoi(argv[3]), argv[4], "/dvk", env_len, env, &answer_len, &answer);
    free_data(env);
    if (rc != 0)
        return fprintf(stderr, "exchange: %d\n", rc), 1;
    rc = parse(&ctx, answer_len, answer);
    free_data(answer);
    if (rc != 0)
        return fprintf(stderr, "parse: %d (ErrID %d)\n", rc, ctx.ErrID), 1;
    for (i = 0; i < ctx.TotalCount; ++i)
        printf("%s %s %d\n", recs[i].SN, recs[i].SSID, recs[i].Code);
    FreeLibrary(dll);
    return 0;
}
