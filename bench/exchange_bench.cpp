// One exchange of a 1000-record query against the benchmark service, per
// call: the library, libcurl with a fresh easy handle per request, and the
// floor, bare OpenSSL with one context whose CA file was loaded once.
// All three send the same absolute-form HTTP/1.0 POST and read to close.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_service.h"
#include "dvkc.h"
#include "side_by_side.h"

namespace {

constexpr const char *kHost = "127.0.0.1";
constexpr const char *kPath = "/dvk";
constexpr int kRecords = 1000;
constexpr std::size_t kAnswerCapacity = 409601;

// The envelope of a 1000-record query, built once.
const std::string &query_body()
{
    static const std::string body = [] {
        char identity[] = "/tmp/dvkc-bench-id-XXXXXX";
        const int fd = mkstemp(identity);
        if (fd < 0 || write(fd, "benchmark identity", 18) != 18) {
            std::abort();
        }
        close(fd);
        std::vector<QueryRecord> table(kRecords);
        for (int i = 0; i < kRecords; ++i) {
            std::snprintf(table[static_cast<std::size_t>(i)].SN, sizeof table[0].SN, "SN%014d", i);
            std::snprintf(table[static_cast<std::size_t>(i)].SSID, sizeof table[0].SSID, "ID%d", i);
        }
        QueryContext ctx{};
        ctx.TotalCount = kRecords;
        ctx.Records = table.data();
        std::int32_t doc_len = 0;
        std::int32_t env_len = 0;
        char *doc = nullptr;
        char *env = nullptr;
        const std::string signature(344, 's');
        if (iMake_DVKReqPKT(0, identity, &ctx, &doc_len, &doc) != 0 ||
            iMake_DVKRequestPKT(doc_len, doc, 344, signature.c_str(), &env_len, &env) != 0) {
            std::abort();
        }
        std::string text(env, static_cast<std::size_t>(env_len));
        vFreeData(doc);
        vFreeData(env);
        unlink(identity);
        return text;
    }();
    return body;
}

const std::string &form_field()
{
    static const std::string field = "DVKRequestXMLData=" + query_body();
    return field;
}

// The request text the library sends.
std::string request_text()
{
    return std::string("POST http://") + kHost + kPath +
           " HTTP/1.0\r\nContent-type: application/x-www-form-urlencoded\r\n" +
           "Content-length: " + std::to_string(form_field().size()) + "\r\n\r\n" + form_field();
}

bool answered(const char *text, std::size_t size)
{
    return size > 12 && std::memcmp(text, "HTTP/1.0 200", 12) == 0;
}

bool exchange_with_library(std::uint16_t port, const std::string &trust)
{
    const std::string &body = query_body();
    std::int32_t len = 0;
    char *answer = nullptr;
    if (iSSL_SendThenRecv(kHost, port, trust.c_str(), kPath, static_cast<std::int32_t>(body.size()), body.c_str(), &len,
                          &answer) != 0) {
        return false;
    }
    const bool ok = answered(answer, static_cast<std::size_t>(len));
    vFreeData(answer);
    return ok;
}

size_t collect(char *data, size_t size, size_t count, void *user)
{
    static_cast<std::string *>(user)->append(data, size * count);
    return size * count;
}

// What an integrator would write with libcurl: a fresh easy handle per
// request, the CA file only, no host-name check.
bool exchange_with_curl(std::uint16_t port, const std::string &trust)
{
    CURL *curl = curl_easy_init();
    if (curl == nullptr) {
        return false;
    }
    const std::string url = "https://" + std::string(kHost) + ":" + std::to_string(port) + kPath;
    const std::string target = "http://" + std::string(kHost) + kPath;
    curl_slist *headers = nullptr;
    headers = curl_slist_append(headers, "Content-type: application/x-www-form-urlencoded");
    headers = curl_slist_append(headers, "Host:");
    headers = curl_slist_append(headers, "Accept:");
    headers = curl_slist_append(headers, "Expect:");
    std::string answer;
    answer.reserve(kAnswerCapacity);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_REQUEST_TARGET, target.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form_field().c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(form_field().size()));
    curl_easy_setopt(curl, CURLOPT_CAINFO, trust.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_HEADER, 1L);  // the status line and headers too, as the library returns them
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return result == CURLE_OK && answered(answer.data(), answer.size());
}

// The floor: what OpenSSL itself costs per request once its context and CA
// file are ready (and Nagle's algorithm is off, as libcurl has it).
class Floor {
public:
    explicit Floor(const std::string &trust) : context_(SSL_CTX_new(TLS_client_method())), answer_(kAnswerCapacity)
    {
        if (!context_ || SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION) != 1 ||
            SSL_CTX_load_verify_locations(context_.get(), trust.c_str(), nullptr) != 1) {
            std::abort();
        }
        SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
    }

    bool exchange(std::uint16_t port, const std::string &request)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        // Its request records must not wait on delayed acknowledgements either.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = false;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
            SSL *ssl = SSL_new(context_.get());
            std::size_t written = 0;
            if (ssl != nullptr && SSL_set_fd(ssl, fd) == 1 && SSL_connect(ssl) == 1 &&
                SSL_write_ex(ssl, request.data(), request.size(), &written) == 1) {
                std::size_t received = 0;
                int count = 0;
                while (received + 4096 <= answer_.size() &&
                       (count = SSL_read(ssl, answer_.data() + received, 4096)) > 0) {
                    received += static_cast<std::size_t>(count);
                }
                ok = answered(answer_.data(), received);
            }
            SSL_free(ssl);
        }
        ::close(fd);
        return ok;
    }

private:
    struct ContextFree {
        void operator()(SSL_CTX *context) const noexcept { SSL_CTX_free(context); }
    };
    std::unique_ptr<SSL_CTX, ContextFree> context_;
    std::vector<char> answer_;
};

void BM_Exchange(benchmark::State &state)
{
    static const bool curl_ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!curl_ready) {
        state.SkipWithError("curl_global_init failed");
        return;
    }
    const dvkc::bench::ServiceEndpoint &service = dvkc::bench::bench_endpoint();
    const std::uint16_t port = state.range(0) == 13 ? service.port_tls13 : service.port_tls12;
    const std::string &trust = service.trust_file;
    const std::string request = request_text();
    Floor floor(trust);
    const std::vector<dvkc::bench::Peer> peers = {
        {"library", [&] { return exchange_with_library(port, trust); }},
        {"libcurl", [&] { return exchange_with_curl(port, trust); }},
        {"floor", [&] { return floor.exchange(port, request); }},
    };
    dvkc::bench::run_side_by_side(state, peers, 1, 1000.0);  // microseconds per call
    state.counters["peak RSS kB"] = static_cast<double>(dvkc::bench::peak_rss_kb());
}

BENCHMARK(BM_Exchange)
    ->ArgName("tls")
    ->Arg(13)
    ->Arg(12)
    ->MinTime(dvkc::bench::bench_seconds(4.0))
    ->Unit(benchmark::kMillisecond);

}  // namespace
