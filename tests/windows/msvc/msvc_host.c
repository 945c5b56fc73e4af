/* A host built the way Microsoft's tools build one: compiled for the MSVC
 * target (clang --target=<arch>-pc-windows-msvc), tightly packed (/Zp1) and,
 * on x86, with stdcall as its default convention (/Gz), then linked by
 * lld-link against the MSVC import library DVKCDLL.lib. There are no MSVC
 * headers or C runtime here, so it declares the few msvcrt functions it
 * uses (msvcrt.def) and starts at its own entry point.
 *
 *   msvc_host DLL HOST PORT TRUST.pem IDENTITY
 *
 * DVKCDLL.dll is found next to the program (DLL is not used). It prints
 * "SN SSID Code" per record; the exit status is 0 on success. */
#include <stddef.h>
#include <stdint.h>

#include "dvkc.h"

#define LAYOUT_CHECK(name, cond) typedef char layout_check_##name[(cond) ? 1 : -1]
LAYOUT_CHECK(record_size, sizeof(QueryRecord) == 32);
LAYOUT_CHECK(code, offsetof(QueryRecord, Code) == 28);
LAYOUT_CHECK(records, offsetof(QueryContext, Records) == (sizeof(void *) == 8 ? 144 : 140));
LAYOUT_CHECK(context_size, sizeof(QueryContext) == (sizeof(void *) == 8 ? 152 : 144));

typedef struct {
    int newmode;
} StartupInfo;
int __cdecl __getmainargs(int *argc, char ***argv, char ***envp, int expand, StartupInfo *info);
int __cdecl atoi(const char *text);
__declspec(noreturn) void __cdecl exit(int status);
void *__cdecl memset(void *bytes, int value, size_t count);
int __cdecl printf(const char *format, ...);
int __cdecl strcmp(const char *a, const char *b);
size_t __cdecl strlen(const char *text);

static int run(int argc, char **argv)
{
    QueryRecord recs[2] = {{"SN-0001", "A123", 0}, {"DEV42-7781", "WIFI-HOME", 0}};
    const char *sig = "signature-computed-by-the-host";
    const unsigned char bytes[2] = {0xAB, 0x01};
    char hex[5];
    QueryContext ctx;
    char *doc, *env, *answer;
    int32_t doc_len, env_len, answer_len, rc;
    int i;

    if (argc != 6) {
        printf("usage: msvc_host DLL HOST PORT TRUST.pem IDENTITY\n");
        return 2;
    }
    /* Many calls in a row: a callee that removed its own arguments, as
     * stdcall does, would move the stack under this frame. */
    for (i = 0; i < 1000; ++i) {
        if (bin2hex(bytes, 2, hex) != 0 || strcmp(hex, "AB01") != 0) {
            printf("bin2hex: %s\n", hex);
            return 1;
        }
    }
    memset(&ctx, 0, sizeof ctx);
    ctx.TotalCount = 2;
    ctx.Records = recs;
    if ((rc = iMake_DVKReqPKT(1234, argv[5], &ctx, &doc_len, &doc)) != 0)
        return printf("build: %d\n", rc), 1;
    rc = iMake_DVKRequestPKT(doc_len, doc, (int32_t)strlen(sig), sig, &env_len, &env);
    vFreeData(doc);
    if (rc != 0)
        return printf("wrap: %d\n", rc), 1;
    rc = iSSL_SendThenRecv(argv[2], atoi(argv[3]), argv[4], "/dvk", env_len, env, &answer_len, &answer);
    vFreeData(env);
    if (rc != 0)
        return printf("exchange: %d\n", rc), 1;
    rc = iParse_DVKResponsePKT(&ctx, answer_len, answer);
    vFreeData(answer);
    if (rc != 0)
        return printf("parse: %d (ErrID %d)\n", rc, ctx.ErrID), 1;
    for (i = 0; i < ctx.TotalCount; ++i)
        printf("%s %s %d\n", recs[i].SN, recs[i].SSID, recs[i].Code);
    return 0;
}

void __cdecl mainCRTStartup(void);
void __cdecl mainCRTStartup(void)
{
    StartupInfo info = {0};
    char **argv = NULL, **envp = NULL;
    int argc = 0;
    if (__getmainargs(&argc, &argv, &envp, 0, &info) != 0)
        exit(2);
    exit(run(argc, argv));
}
