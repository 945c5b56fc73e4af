/*
 * dvkc.h - client library for querying the DVK service.
 *
 * One query runs as:
 *   1. fill a QueryContext (TotalCount, Records with SN and SSID);
 *   2. iMake_DVKReqPKT      -> request document (context gets ClientID, Nonce, ReqTime);
 *   3. sign the document by your own means;
 *      iMake_DVKRequestPKT  -> request envelope (document + length + signature);
 *   4. iSSL_SendThenRecv    -> raw HTTPS answer (status line, headers, body);
 *   5. iParse_DVKResponsePKT-> one Code per record, or the service's ErrID;
 *   6. vFreeData on each of the three returned buffers.
 *
 * The library keeps no state between calls, writes no log and reads no
 * configuration. Every returned text is NUL-terminated, its length (without
 * the NUL) is returned separately, and it must be released with vFreeData.
 * On any non-zero result no out-parameter is written and nothing is handed
 * over. A null pointer for a required argument gives -1 and changes nothing.
 *
 * This header is valid C99 and C++.
 */
#ifndef DVKC_H
#define DVKC_H

#include <stdint.h>

/* On Windows DVKCDLL.def names the exports; elsewhere only the six functions
 * are visible. Both platforms use the C calling convention (x64 has one). */
#if defined(DVKC_BUILDING) && defined(__GNUC__) && !defined(_WIN32)
#define DVKC_API __attribute__((visibility("default")))
#else
#define DVKC_API
#endif

#ifdef __cplusplus
#define DVKC_NOEXCEPT noexcept
extern "C" {
#else
#define DVKC_NOEXCEPT
#endif

/* The layout below holds whatever packing the host compiles with. */
#pragma pack(push, 8)

/* One entry of the host's record table (32 bytes). */
typedef struct QueryRecord {
    char SN[17];   /* serial text, at most 16 characters, NUL-terminated */
    char SSID[11]; /* identifier text, at most 10 characters, NUL-terminated */
    int32_t Code;  /* service result; -1 after the request is built */
} QueryRecord;

/* The caller-owned state of one query. Keep it unchanged between building
 * the request and parsing the answer: the answer must echo ClientID and Nonce. */
typedef struct QueryContext {
    char ClientID[101];  /* 40 uppercase hex digits: SHA-1 of the identity file's first 10240 bytes */
    char Nonce[16];      /* 15 characters from 0-9, A-Z, a-z */
    char ReqTime[15];    /* local time as YYYYMMDDhhmmss */
    int32_t ErrID;       /* service error number (meaningful when the parser returns 2000) */
    int32_t TotalCount;  /* number of entries in Records */
    QueryRecord *Records;/* host-owned table of TotalCount entries */
} QueryContext;

#pragma pack(pop)

/*
 * Builds the request document for ctx and writes ClientID, Nonce and ReqTime
 * into it, ErrID = 0 and every record's Code = -1.
 *   seed_modifier: enters the nonce's seed; only its remainder modulo 1000 counts.
 *   identity_path: any file; the SHA-1 of its first 10240 bytes is the ClientID.
 * Returns 0 (document in *out_buf, length in *out_len; free with vFreeData),
 * -1 if the identity file cannot be opened (or a required pointer is null),
 * -2 if the document buffer cannot be allocated.
 */
DVKC_API int32_t iMake_DVKReqPKT(int32_t seed_modifier, const char *identity_path,
                                 QueryContext *ctx, int32_t *out_len,
                                 char **out_buf) DVKC_NOEXCEPT;

/*
 * Wraps a request document and the host's signature into the envelope
 * "<DVKRequest>doc<DVKReqLength>doc_len</DVKReqLength><Signature>sig</Signature></DVKRequest>".
 * doc_len is written into DVKReqLength exactly as passed; both texts are
 * copied up to their NULs whatever the lengths say.
 * Returns 0 (envelope in *out_buf, length in *out_len; free with vFreeData),
 * -1 if allocation fails or a required pointer is null.
 */
DVKC_API int32_t iMake_DVKRequestPKT(int32_t doc_len, const char *doc,
                                     int32_t sig_len, const char *sig,
                                     int32_t *out_len, char **out_buf) DVKC_NOEXCEPT;

/*
 * Posts body as the form field DVKRequestXMLData to https://host:port/url_path
 * (HTTP/1.0), authenticating the server against the PEM trust file: the TLS
 * library's verification plus a check that every issuer certificate the server
 * presents carries a public key found in the trust file. Reads until the
 * server closes (at most 100 reads of 4096 bytes).
 * Returns 0 (raw answer, status line and headers included, in *out_buf; its
 * length up to the first NUL in *out_len; free with vFreeData), or a negative
 * failure: -1 allocation or null pointer, -4/-5 TLS set-up, -6 trust file not
 * loadable, -7 socket, -8 host not resolvable, -9 connect, -10/-11 TLS
 * connection, -12 handshake (server not trusted), -13 no server certificate,
 * -14/-15 certificate names, -16 request write, -17 chain key check.
 */
DVKC_API int32_t iSSL_SendThenRecv(const char *host, int32_t port,
                                   const char *trust_path, const char *url_path,
                                   int32_t body_len, const char *body,
                                   int32_t *out_len, char **out_buf) DVKC_NOEXCEPT;

/*
 * Parses a raw answer (as returned by iSSL_SendThenRecv) against the context
 * that built the request; response_len bounds the header search and the text
 * is never read past its NUL nor modified.
 * Returns 0 (Codes written for the answered records), 2000 (service error:
 * ctx->ErrID holds its number), -1 (not an HTTP 200 answer, length below 20,
 * or a null pointer), or 2001-2017 for a malformed or foreign answer
 * (see the README's results table).
 */
DVKC_API int32_t iParse_DVKResponsePKT(QueryContext *ctx, int32_t response_len,
                                       const char *response) DVKC_NOEXCEPT;

/*
 * Writes count bytes as 2*count uppercase hex digits plus a NUL into out,
 * which must hold 2*count + 1 bytes. A negative count is taken as 0; a null
 * out writes nothing. Always returns 0.
 */
DVKC_API int32_t bin2hex(const unsigned char *bytes, int32_t count,
                         char *out) DVKC_NOEXCEPT;

/* Releases a buffer returned by this library; a null pointer is ignored. */
DVKC_API void vFreeData(void *buffer) DVKC_NOEXCEPT;

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DVKC_H */
