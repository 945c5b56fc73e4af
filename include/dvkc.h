/*
 * dvkc.h - client library for querying the DVK service.
 *
 * This header is the library's whole contract: every function, every
 * parameter (what a null or negative value does), who owns what, and every
 * result with what it leaves written. It is valid C99 and C++.
 *
 * One query runs as:
 *   1. fill a QueryContext: TotalCount, and Records with each SN and SSID;
 *   2. iMake_DVKReqPKT       -> request document; the context gets ClientID,
 *                               Nonce and ReqTime, ErrID 0, every Code -1;
 *   3. sign the document by your own means;
 *      iMake_DVKRequestPKT   -> request envelope (document, length, signature);
 *   4. iSSL_SendThenRecv     -> the raw HTTPS answer (status line, headers, body);
 *   5. iParse_DVKResponsePKT -> one Code per record, or the service's ErrID;
 *   6. vFreeData on each of the three returned buffers.
 * Keep the context unchanged from step 2 to step 5: the answer must echo the
 * ClientID and Nonce that step 2 wrote.
 *
 * General rules
 * - The library keeps no state between calls, starts no thread, writes no
 *   log and stores nothing on disk. It reads the files the host names (the
 *   identity file, the trust file) and nothing else:
 *   - no OpenSSL configuration: OPENSSL_CONF is ignored, and so is any
 *     openssl.cnf under the OPENSSLDIR compiled into OpenSSL, since every
 *     call starts OpenSSL with OPENSSL_INIT_NO_LOAD_CONFIG before anything
 *     else. OpenSSL keeps one configuration per process, though: a host that
 *     has itself loaded one (its own first OpenSSL call, e.g. SSL_CTX_new,
 *     does so unless told not to) has handed it over, and the library then
 *     runs with it;
 *   - of the environment, TZ, for the local time of the request, and the
 *     variables OpenSSL itself reads once, when it is loaded or first used:
 *     the processor capability masks (OPENSSL_ia32cap on x86 and x86-64,
 *     OPENSSL_armcap on ARM, and their kin on other processors). These only
 *     choose among code paths of the same algorithms (or turn off
 *     instructions the processor has), so they change speed, not results;
 *     a mask that claims an instruction the processor lacks makes the
 *     process die of an illegal instruction, as in any OpenSSL program.
 * - Once OpenSSL has been cleaned up (by its own exit-time handler, which it
 *   registers when first used, so that a host's atexit handler or global
 *   destructor registered earlier runs after it; or by the host's
 *   OPENSSL_cleanup()), iMake_DVKReqPKT returns
 *   DVKC_BUILD_IDENTITY_UNREADABLE with nothing written and iSSL_SendThenRecv
 *   DVKC_EXCHANGE_TLS_INIT; the other calls do not use OpenSSL.
 * - Ownership: every text the library returns is NUL-terminated, in a buffer
 *   the library allocated; its length (without the NUL) is returned through a
 *   separate out-parameter. The buffer then belongs to the caller, who
 *   releases it with vFreeData and by no other means. The context and the
 *   record table belong to the caller; the library reads and writes them in
 *   place during a call and keeps no pointer to them afterwards.
 * - Out-parameters (out_len, out_buf) are written only when the call returns
 *   0; on any other result they keep what they held. What each failure leaves
 *   written in the context is said at each function.
 * - Threads: every function may be called from several threads at once,
 *   except that one context must not be used by two calls at the same time.
 *   Each thread has its own state of the library's pseudo-random generator;
 *   the host's rand() is never touched.
 * - The host process is left as it was: no signal disposition or mask is
 *   changed (no SIGPIPE is raised), every descriptor or handle the library
 *   opens is close-on-exec (not inherited), and the calling thread's OpenSSL
 *   error queue holds afterwards exactly the entries it held before, in
 *   their order, each with its code, file, line, function and data text
 *   (an empty text still a text; an entry of code 0 one like any other).
 *   Its marks (ERR_set_mark) keep their number, and all come back on the
 *   newest entry: OpenSSL 3.0 shows a program only the newest marked entry,
 *   by popping those above it. A mark set just before the call, the usual
 *   ERR_set_mark ... ERR_pop_to_mark bracket, is kept exactly.
 * - Calling convention: every function is a plain C function with the C
 *   compiler's default convention, cdecl (the caller removes the arguments),
 *   on 32-bit x86 as everywhere else. On 32-bit Windows the declarations say
 *   __cdecl (DVKC_CDECL), so a C or C++ host compiled with another default
 *   (/Gz, -mrtd) still calls them right. A host whose language can call only
 *   stdcall (WINAPI) functions needs a small shim of its own in between.
 * - Texts are single-byte strings, copied into the XML unchanged: no
 *   escaping and no character-set conversion. A '<', '>' or '&' in a record
 *   therefore reaches the service as it stands.
 */
#ifndef DVKC_H
#define DVKC_H

#include <stdint.h>

#if defined(DVKC_BUILDING) && defined(__GNUC__) && !defined(_WIN32)
#define DVKC_API __attribute__((visibility("default")))
#else
#define DVKC_API
#endif

/* cdecl, spelled out for 32-bit Windows, where a host may compile with
 * another default (/Gz, -mrtd); elsewhere there is one convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define DVKC_CDECL __cdecl
#else
#define DVKC_CDECL
#endif

#ifdef __cplusplus
#define DVKC_NOEXCEPT noexcept
extern "C" {
#else
#define DVKC_NOEXCEPT
#endif

/* ------------------------------------------------------------------ limits */

#define DVKC_SN_MAX 16               /* bytes of a record's SN (without the NUL) */
#define DVKC_SSID_MAX 10             /* bytes of a record's SSID (without the NUL) */
#define DVKC_MAX_RECORDS 1000        /* records one answer can carry */
#define DVKC_ANSWER_MAX 409600       /* bytes of an answer kept; the rest is cut */
#define DVKC_IDENTITY_READ_MAX 10240 /* bytes of the identity file digested */
#define DVKC_CLIENT_ID_LENGTH 40     /* hex digits of a ClientID */
#define DVKC_NONCE_LENGTH 15         /* characters of a Nonce */
#define DVKC_REQ_TIME_LENGTH 14      /* digits of a ReqTime */

/* ----------------------------------------------------------------- records */

/* The layout is fixed whatever packing the host compiles with. */
#pragma pack(push, 8)

/* One entry of the host's record table: 32 bytes, SN at 0, SSID at 17,
 * Code at 28. */
typedef struct QueryRecord {
    char SN[DVKC_SN_MAX + 1];     /* serial text, NUL-terminated; the library
                                     reads at most 16 bytes even without a NUL */
    char SSID[DVKC_SSID_MAX + 1]; /* identifier text, NUL-terminated; at most
                                     10 bytes are read even without a NUL */
    int32_t Code;                 /* the service's result for this record; -1
                                     once the request is built (the service may
                                     itself answer -1) */
} QueryRecord;

/* The caller-owned state of one query: ClientID at 0, Nonce at 101, ReqTime
 * at 117, ErrID at 132, TotalCount at 136, Records at 144 with 64-bit
 * pointers (140 with 32-bit ones, as on Windows x86); 152 bytes with 64-bit
 * pointers, 144 with 32-bit ones. */
typedef struct QueryContext {
    char ClientID[101];   /* 40 uppercase hex digits and a NUL: the SHA-1 of the
                             identity file's first 10240 bytes */
    char Nonce[16];       /* 15 characters from 0-9, A-Z, a-z, and a NUL */
    char ReqTime[15];     /* local time as YYYYMMDDhhmmss, and a NUL */
    int32_t ErrID;        /* the service's error number; meaningful only when
                             the parser returned DVKC_PARSE_SERVICE_ERROR (it is
                             0 when that number is 0 or not numeric) */
    int32_t TotalCount;   /* number of entries in Records (0 or less: none) */
    QueryRecord *Records; /* host-owned table of TotalCount entries; may be
                             null only when TotalCount is 0 or less */
} QueryContext;

#pragma pack(pop)

/* ----------------------------------------------------------------- results */

/* The four calls that report a result. */
typedef enum DVKC_Call {
    DVKC_CALL_BUILD = 0,    /* iMake_DVKReqPKT */
    DVKC_CALL_WRAP = 1,     /* iMake_DVKRequestPKT */
    DVKC_CALL_EXCHANGE = 2, /* iSSL_SendThenRecv */
    DVKC_CALL_PARSE = 3     /* iParse_DVKResponsePKT */
} DVKC_Call;

/*
 * Every result of every call, once: X(call, name, value, words). The same
 * number can mean different things for different calls (-1 above all), so
 * each result is named after its call. Use it to build your own tables:
 *   #define ROW(call, name, value, words) { DVKC_CALL_##call, value, words },
 *   DVKC_RESULTS(ROW)
 */
#define DVKC_RESULTS(X)                                                                                                \
    /* iMake_DVKReqPKT */                                                                                              \
    X(BUILD, DVKC_BUILD_OK, 0, "request document built")                                                               \
    X(BUILD, DVKC_BUILD_IDENTITY_UNREADABLE, -1,                                                                       \
      "the identity file cannot be read or digested (or a required argument is null)")                                 \
    X(BUILD, DVKC_BUILD_NO_MEMORY, -2, "no memory for the request document")                                           \
    /* iMake_DVKRequestPKT */                                                                                          \
    X(WRAP, DVKC_WRAP_OK, 0, "request envelope built")                                                                 \
    X(WRAP, DVKC_WRAP_NO_MEMORY, -1, "no memory for the request envelope (or a required argument is null)")            \
    /* iSSL_SendThenRecv, in the order the conditions are met */                                                       \
    X(EXCHANGE, DVKC_EXCHANGE_OK, 0, "answer received")                                                                \
    X(EXCHANGE, DVKC_EXCHANGE_NO_MEMORY, -1,                                                                           \
      "no memory for the request or the answer (or a required argument is null)")                                      \
    /* -2 and -3 come from the Windows sockets layer only */                                                           \
    X(EXCHANGE, DVKC_EXCHANGE_SOCKETS_REFUSED, -2, "the sockets layer refused to start")                               \
    X(EXCHANGE, DVKC_EXCHANGE_SOCKETS_VERSION, -3, "the sockets layer started with another version")                   \
    X(EXCHANGE, DVKC_EXCHANGE_TLS_INIT, -4, "the TLS library cannot be initialised")                                   \
    X(EXCHANGE, DVKC_EXCHANGE_TLS_CONTEXT, -5, "the TLS client context cannot be created")                             \
    X(EXCHANGE, DVKC_EXCHANGE_TRUST_FILE, -6,                                                                          \
      "the trust file cannot be loaded (missing, unreadable or not PEM certificates)")                                 \
    X(EXCHANGE, DVKC_EXCHANGE_SOCKET, -7, "no TCP socket can be created")                                              \
    X(EXCHANGE, DVKC_EXCHANGE_RESOLVE, -8, "the host name cannot be resolved")                                         \
    X(EXCHANGE, DVKC_EXCHANGE_CONNECT, -9, "the TCP connection failed (nothing listening, or unreachable)")            \
    X(EXCHANGE, DVKC_EXCHANGE_TLS_CONNECTION, -10, "the TLS connection cannot be created")                             \
    X(EXCHANGE, DVKC_EXCHANGE_TLS_ATTACH, -11, "the socket cannot be attached to the TLS connection")                  \
    X(EXCHANGE, DVKC_EXCHANGE_HANDSHAKE, -12,                                                                          \
      "the TLS handshake failed (the server is not trusted by the trust file, or no "                                  \
      "common TLS version)")                                                                                           \
    X(EXCHANGE, DVKC_EXCHANGE_NO_SERVER_CERT, -13, "the server presented no certificate")                              \
    X(EXCHANGE, DVKC_EXCHANGE_SUBJECT_NAME, -14, "the server certificate's subject name cannot be read")               \
    X(EXCHANGE, DVKC_EXCHANGE_ISSUER_NAME, -15, "the server certificate's issuer name cannot be read")                 \
    X(EXCHANGE, DVKC_EXCHANGE_WRITE, -16, "the request cannot be written (the server closed the connection)")          \
    X(EXCHANGE, DVKC_EXCHANGE_CHAIN_KEY, -17,                                                                          \
      "the server's chain carries an issuer key that is not in the trust file")                                        \
    /* iParse_DVKResponsePKT */                                                                                        \
    X(PARSE, DVKC_PARSE_OK, 0, "answer accepted, codes written")                                                       \
    X(PARSE, DVKC_PARSE_NOT_HTTP_200, -1, "the answer is not an HTTP 200 response (or a required argument is null)")   \
    X(PARSE, DVKC_PARSE_SERVICE_ERROR, 2000, "the service reported an error")                                          \
    X(PARSE, DVKC_PARSE_NO_RESPONSE, 2001, "the answer has no <DVKResponse>")                                          \
    X(PARSE, DVKC_PARSE_CLIENT_ID_MISSING, 2002, "the answer's ClientID is missing or empty")                          \
    X(PARSE, DVKC_PARSE_CLIENT_ID_FOREIGN, 2003, "the answer's ClientID is not ours (another identity file?)")         \
    X(PARSE, DVKC_PARSE_NONCE_MISSING, 2004, "the answer's nonce is missing or empty")                                 \
    X(PARSE, DVKC_PARSE_NONCE_FOREIGN, 2005, "the answer's nonce is not the one we sent")                              \
    X(PARSE, DVKC_PARSE_REQ_TIME_MISSING, 2006, "the answer's ReqTime is missing or empty")                            \
    X(PARSE, DVKC_PARSE_TOTAL_COUNT_MISSING, 2007, "the answer's TotalCount is missing or empty")                      \
    X(PARSE, DVKC_PARSE_TOTAL_COUNT_NOT_NUMBER, 2008, "the answer's TotalCount does not start with a digit")           \
    X(PARSE, DVKC_PARSE_TOTAL_COUNT_RANGE, 2009,                                                                       \
      "the answer's TotalCount is not between 1 and 1000, or exceeds the records sent")                                \
    X(PARSE, DVKC_PARSE_TOO_FEW_RECORDS, 2011, "the answer holds fewer records than its TotalCount")                   \
    X(PARSE, DVKC_PARSE_RECORD_UNCLOSED, 2012,                                                                         \
      "a record of the answer is empty or has no </Rec> within 500 characters")                                        \
    X(PARSE, DVKC_PARSE_RECORD_NO_ID, 2013, "a record of the answer has no ID")                                        \
    X(PARSE, DVKC_PARSE_RECORD_NO_SN, 2014, "a record of the answer has no SN")                                        \
    X(PARSE, DVKC_PARSE_RECORD_NO_SSID4, 2015, "a record of the answer has no SSID4")                                  \
    X(PARSE, DVKC_PARSE_RECORD_NO_CODE, 2016, "a record of the answer has no Code within its first 100 characters")    \
    X(PARSE, DVKC_PARSE_RECORD_BAD_CODE, 2017, "a record's Code does not start with a digit or '-'")

/* The results as names (plain enumerators: nothing is exported for them). */
enum DVKC_Result {
#define DVKC_RESULT_ENUMERATOR(call, name, value, words) name = (value),
    DVKC_RESULTS(DVKC_RESULT_ENUMERATOR)
#undef DVKC_RESULT_ENUMERATOR
};

/* The words for `result` as a result of `call`, e.g. "the answer's nonce is
 * not the one we sent"; "unknown result" for anything else. Never null. */
static inline const char *dvkc_result_words(DVKC_Call call, int32_t result)
{
#define DVKC_RESULT_WORDS(c, name, value, words)                                                                       \
    if (call == DVKC_CALL_##c && result == (int32_t)(value))                                                           \
        return words;
    DVKC_RESULTS(DVKC_RESULT_WORDS)
#undef DVKC_RESULT_WORDS
    return "unknown result";
}

/* The exported name of `call`, e.g. "iSSL_SendThenRecv"; "?" for no call. */
static inline const char *dvkc_call_name(DVKC_Call call)
{
    switch (call) {
    case DVKC_CALL_BUILD:
        return "iMake_DVKReqPKT";
    case DVKC_CALL_WRAP:
        return "iMake_DVKRequestPKT";
    case DVKC_CALL_EXCHANGE:
        return "iSSL_SendThenRecv";
    case DVKC_CALL_PARSE:
        return "iParse_DVKResponsePKT";
    }
    return "?";
}

/* --------------------------------------------------------------- functions */

/*
 * iMake_DVKReqPKT: stamps the context and builds the request document
 *   <DVKReq><ClientID>..</ClientID><Nonce>..</Nonce><ReqTime>..</ReqTime>
 *   <TotalCount>n</TotalCount><Rec><ID>0</ID><SN>..</SN><SSID>..</SSID></Rec>
 *   ...</DVKReq>
 * on one line, every record of the table in order, texts unescaped.
 *
 *   seed_modifier  any value; enters the nonce's seed (the time in seconds
 *                  times seed_modifier % 1000 + 1), so only its remainder
 *                  modulo 1000, with its sign, counts.
 *   identity_path  any file (null: DVKC_BUILD_IDENTITY_UNREADABLE); the SHA-1
 *                  of its first 10240 bytes, in uppercase hex, is the ClientID.
 *   ctx            the context (null: DVKC_BUILD_IDENTITY_UNREADABLE). A
 *                  TotalCount of 0 or less gives a document with that count
 *                  and no record; a positive TotalCount with null Records
 *                  gives DVKC_BUILD_IDENTITY_UNREADABLE.
 *   out_len        receives the document's length (null: as for identity_path).
 *   out_buf        receives the document; free it with vFreeData (null: ditto).
 *
 * DVKC_BUILD_OK: ClientID, Nonce, ReqTime written; ErrID 0; the Code of each
 *   of the TotalCount records -1; *out_len and *out_buf set.
 * DVKC_BUILD_IDENTITY_UNREADABLE: for a null argument nothing is written;
 *   otherwise the identity file could not be opened or digested and only
 *   ErrID has changed (to 0).
 * DVKC_BUILD_NO_MEMORY: the document cannot be allocated (or would exceed
 *   2^31 - 1 bytes); ErrID is 0 and ClientID, Nonce and ReqTime hold the new
 *   values, but the codes are unchanged.
 */
DVKC_API int32_t DVKC_CDECL iMake_DVKReqPKT(int32_t seed_modifier, const char *identity_path, QueryContext *ctx,
                                            int32_t *out_len, char **out_buf) DVKC_NOEXCEPT;

/*
 * iMake_DVKRequestPKT: wraps a document and the host's signature into
 *   <DVKRequest>doc<DVKReqLength>doc_len</DVKReqLength><Signature>sig</Signature></DVKRequest>
 *
 *   doc_len   written into DVKReqLength exactly as passed (any value); it
 *             is not compared with the document.
 *   doc, sig  texts copied whole, up to their NULs (null: DVKC_WRAP_NO_MEMORY).
 *   sig_len   not used: the signature's own length counts.
 *   out_len, out_buf  receive the envelope and its length; free it with
 *             vFreeData (null: DVKC_WRAP_NO_MEMORY).
 *
 * DVKC_WRAP_OK: *out_len and *out_buf set.
 * DVKC_WRAP_NO_MEMORY: the envelope cannot be allocated (or would exceed
 *   2^31 - 1 bytes), or a pointer is null; nothing is written.
 */
DVKC_API int32_t DVKC_CDECL iMake_DVKRequestPKT(int32_t doc_len, const char *doc, int32_t sig_len, const char *sig,
                                                int32_t *out_len, char **out_buf) DVKC_NOEXCEPT;

/*
 * iSSL_SendThenRecv: one HTTPS exchange. Sends
 *   POST http://<host><url_path> HTTP/1.0\r\n
 *   Content-type: application/x-www-form-urlencoded\r\n
 *   Content-length: <body_len + 18>\r\n\r\nDVKRequestXMLData=<body>
 * and reads until the server closes the connection.
 *
 *   host       a host name or a dotted IPv4 address (IPv4 only). A host
 *              starting with a letter is looked up by name, then, if that
 *              fails, its dotted form in reverse; any other host is taken as
 *              dotted text unchecked (text that is no address becomes
 *              255.255.255.255 and the connect fails).
 *   port       taken as a 16-bit value, as the sockets layer takes it: only
 *              its low 16 bits count (65536 is port 0, -1 is port 65535).
 *   trust_path PEM file of certificates, read and decoded whole on every
 *              call before any connection is made: a file OpenSSL's own
 *              CA-file load would refuse gives DVKC_EXCHANGE_TRUST_FILE at
 *              once. The server is authenticated by it alone: its chain
 *              must verify against these certificates (TLS 1.2 or later),
 *              and every issuer certificate it presents must carry a public
 *              key that one of them carries.
 *              No server name is sent and the name in the server's
 *              certificate is not checked against host.
 *   url_path   placed right after the host; normally starts with '/'.
 *   body_len   sets Content-length only; the body is sent up to its NUL.
 *   body       the text posted, normally the envelope.
 *   out_len    receives the answer's length up to its first NUL byte.
 *   out_buf    receives the answer (status line, headers and body, as
 *              received); free it with vFreeData.
 * A null pointer gives DVKC_EXCHANGE_NO_MEMORY.
 *
 * The call blocks with no time limit: connect, handshake, write and reads
 * wait as long as the platform lets them, and a server that keeps the
 * connection open after its answer holds the call until it closes. The
 * answer is taken in at most 100 reads of at most 4096 bytes, and a read
 * returns at most one TLS record: an answer longer than DVKC_ANSWER_MAX
 * bytes, or one that arrives in more than 100 TLS records (then even below
 * DVKC_ANSWER_MAX), is cut there without notice, and the call still returns
 * DVKC_EXCHANGE_OK.
 *
 * DVKC_EXCHANGE_OK: *out_len and *out_buf set. Any other result (see
 * DVKC_RESULTS) writes nothing and leaves nothing acquired.
 */
DVKC_API int32_t DVKC_CDECL iSSL_SendThenRecv(const char *host, int32_t port, const char *trust_path,
                                              const char *url_path, int32_t body_len, const char *body,
                                              int32_t *out_len, char **out_buf) DVKC_NOEXCEPT;

/*
 * iParse_DVKResponsePKT: checks a raw answer (as iSSL_SendThenRecv returns
 * it) against the context that built the request and writes each returned
 * record's Code into the table, by position.
 *
 *   ctx           the context that built the request (null: -1).
 *   response_len  bounds the search for the header elements; below 20 gives
 *                 DVKC_PARSE_NOT_HTTP_200; beyond the text's NUL it means the
 *                 whole text.
 *   response      the answer (null: DVKC_PARSE_NOT_HTTP_200); never read past
 *                 its NUL and never modified.
 *
 * An answer names 1 to DVKC_MAX_RECORDS records, and no more than the
 * context's TotalCount (DVKC_PARSE_TOTAL_COUNT_RANGE otherwise, before any
 * Code is written); a Code outside the table is never written. Numbers
 * saturate at the 32-bit limits.
 *
 * DVKC_PARSE_OK: ErrID 0; the Code of each of the answer's n records written
 *   (the others keep their value, normally -1).
 * DVKC_PARSE_NOT_HTTP_200: nothing written.
 * DVKC_PARSE_SERVICE_ERROR: ErrID holds the service's number; codes untouched.
 * DVKC_PARSE_NO_RESPONSE to DVKC_PARSE_TOTAL_COUNT_RANGE: ErrID 0; codes
 *   untouched.
 * DVKC_PARSE_TOO_FEW_RECORDS to DVKC_PARSE_RECORD_BAD_CODE at record k
 *   (from 0): ErrID 0; the codes of records 0 to k - 1 written, the others
 *   untouched.
 */
DVKC_API int32_t DVKC_CDECL iParse_DVKResponsePKT(QueryContext *ctx, int32_t response_len,
                                                  const char *response) DVKC_NOEXCEPT;

/*
 * bin2hex: writes count bytes as 2*count uppercase hex digits and a NUL into
 * out, which must hold 2*count + 1 bytes. A count of 0 or less, or null
 * bytes, writes the empty text; a null out writes nothing. Always returns 0.
 */
DVKC_API int32_t DVKC_CDECL bin2hex(const unsigned char *bytes, int32_t count, char *out) DVKC_NOEXCEPT;

/* vFreeData: releases a buffer returned by this library; null is ignored. */
DVKC_API void DVKC_CDECL vFreeData(void *buffer) DVKC_NOEXCEPT;

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DVKC_H */
