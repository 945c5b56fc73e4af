/*
 * dvkc.hpp - optional C++20 convenience layer over dvkc.h (header-only).
 *
 *   dvkc::Buffer     owns a text the library returned; released with vFreeData.
 *   dvkc::Query      owns a QueryContext and its record table.
 *   dvkc::Error      thrown for every non-zero result, carrying the call, the
 *                    code, the service's ErrID (for 2000) and the words for it.
 *   dvkc::describe() the words for every result of every function; the dvkc
 *                    tool prints the same words.
 *
 * Results are reported by exceptions: every wrapper either returns what the
 * call produced or throws dvkc::Error (std::invalid_argument for a record
 * whose texts do not fit the record table, std::bad_alloc as usual).
 *
 *   dvkc::Query q;
 *   q.add("SN-0001", "A123");
 *   dvkc::Buffer doc = q.build(42, "identity.bin");
 *   dvkc::Buffer env = dvkc::make_envelope(doc.view(), signature);
 *   dvkc::Buffer answer = dvkc::exchange({"service.example", 443, "/dvk", "trust.pem"}, env.view());
 *   q.parse(answer);                 // throws dvkc::Error unless the result is 0
 *   for (std::size_t i = 0; i < q.size(); ++i) use(q.sn(i), q.code(i));
 */
#ifndef DVKC_HPP
#define DVKC_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dvkc.h"

namespace dvkc {

/* ---------------------------------------------------------------- results */

/* The four calls of a query, in the order they run. */
enum class Call {
    build = DVKC_CALL_BUILD,
    wrap = DVKC_CALL_WRAP,
    exchange = DVKC_CALL_EXCHANGE,
    parse = DVKC_CALL_PARSE
};

/* The exported name of a call, e.g. "iSSL_SendThenRecv". */
inline std::string_view call_name(Call call) noexcept
{
    return dvkc_call_name(static_cast<DVKC_Call>(call));
}

/* One documented result of one call. */
struct ResultInfo {
    Call call;
    std::int32_t code;
    std::string_view words;
};

/* Every result every call can give, with its words: DVKC_RESULTS of dvkc.h. */
inline constexpr ResultInfo result_table[] = {
#define DVKC_HPP_RESULT_ROW(c, name, value, words) {static_cast<Call>(DVKC_CALL_##c), (value), (words)},
    DVKC_RESULTS(DVKC_HPP_RESULT_ROW)
#undef DVKC_HPP_RESULT_ROW
};

inline constexpr std::string_view unknown_result_words = "unknown result";

/* The words for `code` as a result of `call`; "unknown result" otherwise. */
constexpr std::string_view describe(Call call, std::int32_t code) noexcept
{
    for (const ResultInfo &info : result_table) {
        if (info.call == call && info.code == code) {
            return info.words;
        }
    }
    return unknown_result_words;
}

/* A failed call: what() reads "iParse_DVKResponsePKT 2005: the answer's nonce
 * is not the one we sent" (for 2000 followed by " (ErrID n)"). */
class Error : public std::runtime_error {
public:
    Error(Call call, std::int32_t code, std::int32_t err_id = 0)
        : std::runtime_error(message(call, code, err_id)), call_(call), code_(code), err_id_(err_id)
    {
    }

    Call call() const noexcept { return call_; }
    std::int32_t code() const noexcept { return code_; }
    /* The service's error number; meaningful when code() is 2000. */
    std::int32_t err_id() const noexcept { return err_id_; }
    std::string_view words() const noexcept { return describe(call_, code_); }

    static std::string message(Call call, std::int32_t code, std::int32_t err_id)
    {
        std::string text(call_name(call));
        text += ' ';
        text += std::to_string(code);
        text += ": ";
        text += describe(call, code);
        if (call == Call::parse && code == DVKC_PARSE_SERVICE_ERROR) {
            text += " (ErrID " + std::to_string(err_id) + ")";
        }
        return text;
    }

private:
    Call call_;
    std::int32_t code_;
    std::int32_t err_id_;
};

/* ---------------------------------------------------------------- buffers */

struct FreeData {
    void operator()(char *text) const noexcept { vFreeData(text); }
};

/* A NUL-terminated text returned by the library, with its length. */
class Buffer {
public:
    Buffer() = default;
    /* Takes ownership of `text` (from the library) of `length` characters. */
    Buffer(char *text, std::int32_t length) noexcept : text_(text), length_(text ? length : 0) {}

    explicit operator bool() const noexcept { return text_ != nullptr; }
    const char *c_str() const noexcept { return text_ ? text_.get() : ""; }
    char *data() noexcept { return text_.get(); }
    std::int32_t length() const noexcept { return length_; }
    std::size_t size() const noexcept { return static_cast<std::size_t>(length_); }
    std::string_view view() const noexcept { return {c_str(), size()}; }
    /* Gives up ownership; release the result with vFreeData. */
    char *release() noexcept
    {
        length_ = 0;
        return text_.release();
    }

private:
    std::unique_ptr<char, FreeData> text_;
    std::int32_t length_ = 0;
};

/* ---------------------------------------------------------------- calls */

namespace detail {
inline std::int32_t checked_length(std::size_t size)
{
    if (size > static_cast<std::size_t>(INT32_MAX)) {
        throw std::length_error("dvkc: text longer than 2^31-1 bytes");
    }
    return static_cast<std::int32_t>(size);
}

/* The C calls need NUL-terminated texts. */
inline std::string terminated(std::string_view text)
{
    return std::string(text);
}
}  // namespace detail

/* iMake_DVKRequestPKT: wraps a document and a signature into the envelope. */
inline Buffer make_envelope(std::string_view document, std::string_view signature)
{
    const std::string doc = detail::terminated(document);
    const std::string sig = detail::terminated(signature);
    char *out = nullptr;
    std::int32_t length = 0;
    const std::int32_t rc = iMake_DVKRequestPKT(detail::checked_length(doc.size()), doc.c_str(),
                                                detail::checked_length(sig.size()), sig.c_str(), &length, &out);
    if (rc != 0) {
        throw Error(Call::wrap, rc);
    }
    return Buffer(out, length);
}

/* Where and how to reach the service. */
struct Endpoint {
    std::string host; /* name or dotted IPv4 address */
    std::int32_t port = 443;
    std::string path = "/"; /* URL path, normally starting with '/' */
    std::string trust_file; /* PEM certificates that authenticate the server */
};

/* iSSL_SendThenRecv: posts `body` and returns the raw answer. */
inline Buffer exchange(const Endpoint &endpoint, std::string_view body)
{
    const std::string text = detail::terminated(body);
    char *out = nullptr;
    std::int32_t length = 0;
    const std::int32_t rc =
        iSSL_SendThenRecv(endpoint.host.c_str(), endpoint.port, endpoint.trust_file.c_str(), endpoint.path.c_str(),
                          detail::checked_length(text.size()), text.c_str(), &length, &out);
    if (rc != 0) {
        throw Error(Call::exchange, rc);
    }
    return Buffer(out, length);
}

/* One query: a QueryContext and the record table it points to. Its by-value
 * operator= is both the copy and the move assignment. */
class Query {  // NOLINT(cppcoreguidelines-special-member-functions)
public:
    static constexpr std::size_t max_sn = DVKC_SN_MAX;
    static constexpr std::size_t max_ssid = DVKC_SSID_MAX;

    Query() noexcept { attach(); }
    Query(const Query &other) : records_(other.records_), context_(other.context_) { attach(); }
    Query(Query &&other) noexcept : records_(std::move(other.records_)), context_(other.context_)
    {
        attach();
        other.attach();
    }
    Query &operator=(Query other) noexcept
    {
        swap(other);
        return *this;
    }
    ~Query() = default;

    void swap(Query &other) noexcept
    {
        records_.swap(other.records_);
        std::swap(context_, other.context_);
        attach();
        other.attach();
    }

    /* Appends a record; throws std::invalid_argument when SN exceeds 16 or
     * SSID 10 characters or either holds a NUL. */
    void add(std::string_view sn, std::string_view ssid)
    {
        if (sn.size() > max_sn || sn.find('\0') != std::string_view::npos) {
            throw std::invalid_argument("dvkc: SN longer than 16 characters or holding a NUL");
        }
        if (ssid.size() > max_ssid || ssid.find('\0') != std::string_view::npos) {
            throw std::invalid_argument("dvkc: SSID longer than 10 characters or holding a NUL");
        }
        if (records_.size() >= static_cast<std::size_t>(INT32_MAX)) {
            throw std::length_error("dvkc: too many records");
        }
        QueryRecord record{};
        std::memcpy(record.SN, sn.data(), sn.size());
        std::memcpy(record.SSID, ssid.data(), ssid.size());
        record.Code = -1;
        records_.push_back(record);
        attach();
    }

    std::size_t size() const noexcept { return records_.size(); }
    std::string_view sn(std::size_t i) const { return records_.at(i).SN; }
    std::string_view ssid(std::size_t i) const { return records_.at(i).SSID; }
    std::int32_t code(std::size_t i) const { return records_.at(i).Code; }

    std::string_view client_id() const noexcept { return context_.ClientID; }
    std::string_view nonce() const noexcept { return context_.Nonce; }
    std::string_view request_time() const noexcept { return context_.ReqTime; }
    std::int32_t err_id() const noexcept { return context_.ErrID; }

    /* The C view, e.g. for calls this header does not wrap. build() and
     * parse() point it at this query's table again before they call. */
    QueryContext &context() noexcept { return context_; }
    const QueryContext &context() const noexcept { return context_; }

    /* iMake_DVKReqPKT: the request document; ClientID, Nonce and ReqTime are
     * stored in the context and every Code becomes -1. */
    Buffer build(std::int32_t seed_modifier, const std::string &identity_file)
    {
        attach();  // whatever was done through context(), the table is ours
        char *out = nullptr;
        std::int32_t length = 0;
        const std::int32_t rc = iMake_DVKReqPKT(seed_modifier, identity_file.c_str(), &context_, &length, &out);
        if (rc != 0) {
            throw Error(Call::build, rc);
        }
        return Buffer(out, length);
    }

    /* iParse_DVKResponsePKT: matches the answer with this query and writes the
     * codes; throws Error for any result but 0 (for 2000 with the ErrID). */
    void parse(std::string_view answer)
    {
        const std::string text = detail::terminated(answer);
        parse_text(text.c_str(), text.size());
    }
    /* A returned buffer is already NUL-terminated: parsed in place. */
    void parse(const Buffer &answer) { parse_text(answer.c_str(), answer.size()); }

private:
    void parse_text(const char *text, std::size_t size)
    {
        attach();
        const std::int32_t rc = iParse_DVKResponsePKT(&context_, detail::checked_length(size), text);
        if (rc != 0) {
            throw Error(Call::parse, rc, rc == DVKC_PARSE_SERVICE_ERROR ? context_.ErrID : 0);
        }
    }

    void attach() noexcept
    {
        context_.TotalCount = static_cast<std::int32_t>(records_.size());
        context_.Records = records_.empty() ? nullptr : records_.data();
    }

    std::vector<QueryRecord> records_;
    QueryContext context_{};
};

}  // namespace dvkc

#endif /* DVKC_HPP */
