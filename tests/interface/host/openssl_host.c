/* A host linked with the library as any host is (libdvkc.so, or DVKCDLL.dll
 * through its import library), for the checks of how the library treats the
 * host's process: which OpenSSL configuration it uses, and what it does once
 * OpenSSL is gone.
 *
 *   openssl_host query   HOST PORT TRUST IDENTITY
 *       one whole query; prints "SN SSID Code" per record, or the failing
 *       call and its result ("exchange: -12"); exit status 0 on success.
 *   openssl_host late    HOST PORT TRUST IDENTITY [BUILD EXCHANGE]
 *       registers an atexit handler before its first query, then queries.
 *       The handler, run after every handler registered later (OpenSSL's
 *       own cleanup among them where OpenSSL registered one in this
 *       process), builds a request and runs an exchange. With BUILD and
 *       EXCHANGE given, those must be the results; without, either the
 *       query's own results or a clean failure (-1 with nothing written,
 *       -4). Prints "late: build R, exchange R".
 * Where the host links OpenSSL itself (DVKC_HOST_LINKS_OPENSSL):
 *   openssl_host cleanup HOST PORT TRUST IDENTITY
 *       queries, calls OPENSSL_cleanup(), then expects build -1 with nothing
 *       written and exchange -4.
 *   openssl_host loaded  HOST PORT TRUST IDENTITY
 *       loads OpenSSL's configuration itself (OPENSSL_CONF or the default
 *       file) before its query, as a host may: the library then runs with it.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dvkc.h"

#ifdef DVKC_HOST_LINKS_OPENSSL
#include <openssl/crypto.h>
#endif

static const char *arg_host;
static int32_t arg_port;
static const char *arg_trust;
static const char *arg_identity;
static int late_expected_given;
static int32_t late_expected_build;
static int32_t late_expected_exchange;

static const char kSignature[] = "signature-computed-by-the-host";

/* One whole query; 0 on success, else 1 after printing what failed. */
static int whole_query(void)
{
    QueryRecord recs[2] = {{"SN-0001", "A123", 0}, {"DEV42-7781", "WIFI-HOME", 0}};
    QueryContext ctx;
    char *doc = NULL, *env = NULL, *answer = NULL;
    int32_t doc_len = 0, env_len = 0, answer_len = 0, rc;
    int i;

    memset(&ctx, 0, sizeof ctx);
    ctx.TotalCount = 2;
    ctx.Records = recs;
    if ((rc = iMake_DVKReqPKT(1234, arg_identity, &ctx, &doc_len, &doc)) != 0)
        return printf("build: %d\n", (int)rc), 1;
    rc = iMake_DVKRequestPKT(doc_len, doc, (int32_t)strlen(kSignature), kSignature, &env_len, &env);
    vFreeData(doc);
    if (rc != 0)
        return printf("wrap: %d\n", (int)rc), 1;
    rc = iSSL_SendThenRecv(arg_host, arg_port, arg_trust, "/dvk", env_len, env, &answer_len, &answer);
    vFreeData(env);
    if (rc != 0)
        return printf("exchange: %d\n", (int)rc), 1;
    rc = iParse_DVKResponsePKT(&ctx, answer_len, answer);
    vFreeData(answer);
    if (rc != 0)
        return printf("parse: %d\n", (int)rc), 1;
    for (i = 0; i < ctx.TotalCount; ++i)
        printf("%s %s %d\n", recs[i].SN, recs[i].SSID, (int)recs[i].Code);
    return 0;
}

/* Builds a request into a context and out-parameters full of marks; returns
 * the result, or -100 when a failure wrote anything. */
static int32_t build_checking_nothing_written(void)
{
    QueryRecord rec = {"SN-late", "late", 555};
    QueryContext ctx, before;
    char mark = 0;
    char *buf = &mark;
    int32_t len = -99, rc;

    memset(&ctx, 0x5a, sizeof ctx);
    ctx.ErrID = 777;
    ctx.TotalCount = 1;
    ctx.Records = &rec;
    before = ctx;
    rc = iMake_DVKReqPKT(7, arg_identity, &ctx, &len, &buf);
    if (rc == 0) {
        vFreeData(buf);
        return rc;
    }
    if (memcmp(&ctx, &before, sizeof ctx) != 0 || rec.Code != 555 || len != -99 || buf != &mark)
        return -100;
    return rc;
}

static int32_t exchange_once(void)
{
    char *answer = NULL;
    int32_t answer_len = -99;
    const int32_t rc = iSSL_SendThenRecv(arg_host, arg_port, arg_trust, "/dvk", 5, "x=1&y", &answer_len, &answer);
    if (rc == 0)
        vFreeData(answer);
    else if (answer_len != -99 || answer != NULL)
        return -100;
    return rc;
}

/* 0 when build and exchange gave what is expected of them. */
static int judge(const char *when, int32_t build, int32_t exchange, int given, int32_t want_build,
                 int32_t want_exchange)
{
    int ok;
    printf("%s: build %d, exchange %d\n", when, (int)build, (int)exchange);
    fflush(stdout);
    if (given)
        ok = build == want_build && exchange == want_exchange;
    else
        ok = (build == 0 && exchange == 0) || (build == -1 && exchange == -4);
    return ok ? 0 : 1;
}

static void late_handler(void)
{
    const int32_t build = build_checking_nothing_written();
    const int32_t exchange = exchange_once();
    /* exit() is running: _Exit ends the process with the verdict. */
    _Exit(judge("late", build, exchange, late_expected_given, late_expected_build, late_expected_exchange));
}

int main(int argc, char **argv)
{
    const char *mode;
    if (argc != 6 && argc != 8) {
        fprintf(stderr, "usage: openssl_host query|late|cleanup|loaded HOST PORT TRUST IDENTITY [BUILD EXCHANGE]\n");
        return 2;
    }
    mode = argv[1];
    arg_host = argv[2];
    arg_port = (int32_t)atoi(argv[3]);
    arg_trust = argv[4];
    arg_identity = argv[5];
    if (argc == 8) {
        late_expected_given = 1;
        late_expected_build = (int32_t)atoi(argv[6]);
        late_expected_exchange = (int32_t)atoi(argv[7]);
    }

    if (strcmp(mode, "query") == 0)
        return whole_query();
    if (strcmp(mode, "late") == 0) {
        if (atexit(late_handler) != 0)
            return 2;
        return whole_query();
    }
#ifdef DVKC_HOST_LINKS_OPENSSL
    if (strcmp(mode, "cleanup") == 0) {
        if (whole_query() != 0)
            return 1;
        OPENSSL_cleanup();
        return judge("after cleanup", build_checking_nothing_written(), exchange_once(), 1, -1, -4);
    }
    if (strcmp(mode, "loaded") == 0) {
        if (OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, NULL) != 1)
            return printf("the host cannot load the configuration\n"), 1;
        return whole_query();
    }
#endif
    fprintf(stderr, "openssl_host: no mode %s here\n", mode);
    return 2;
}
