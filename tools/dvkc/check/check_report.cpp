#include "check/check_report.h"

#include <nlohmann/json.hpp>

#include "dvkc.hpp"

namespace dvkc::tool {
namespace {

using Json = nlohmann::ordered_json;

// The length of the UTF-8 sequence starting at `at`, or 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t utf8_sequence(const std::string &text, std::size_t at)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string utf8_or_escaped(const std::string &text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t length = utf8_sequence(text, at); length != 0) {
            out.append(text, at, length);
            at += length;
        } else {
            const auto byte = static_cast<unsigned char>(text[at++]);
            out += "\\x";
            out += hex[byte >> 4U];
            out += hex[byte & 15U];
        }
    }
    return out;
}

namespace {

// Every string of `json` made valid UTF-8.
void escape_strings(Json &json)
{
    if (json.is_string()) {
        json = utf8_or_escaped(json.get<std::string>());
    } else if (json.is_structured()) {
        for (Json &element : json) {
            escape_strings(element);
        }
    }
}

std::string words(std::int32_t result)
{
    return std::string(describe(Call::exchange, result));
}

void write_certificate(std::ostream &out, const std::string &label, const CertificateFacts &c)
{
    out << "  " << label << "subject " << c.subject << "\n"
        << "           issuer  " << c.issuer << "\n"
        << "           valid   " << c.not_before << " to " << c.not_after << "\n"
        << "           key     " << c.key_type << ", " << c.key_bits << " bits, SHA-256 " << c.key_sha256 << "\n";
}

Json certificate_json(const CertificateFacts &c)
{
    return Json{{"subject", c.subject},      {"issuer", c.issuer},     {"not_before", c.not_before},
                {"not_after", c.not_after},  {"key_type", c.key_type}, {"key_bits", c.key_bits},
                {"key_sha256", c.key_sha256}};
}

std::string counted(std::size_t count, const char *what)
{
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

std::string padded(std::string text, std::size_t width)
{
    text.resize(std::max(width, text.size()), ' ');
    return text;
}

}  // namespace

void write_check_text(std::ostream &out, const CheckReport &report)
{
    out << "dvkc check: " << report.host << ":" << report.port << " against the trust file " << report.trust_path
        << "\n";
    const std::optional<ServerProbe> &seen = report.seen;
    if (seen) {
        if (seen->reached == ServerProbe::Reached::nothing) {
            out << "address: none (" << seen->failure << ")\n";
        } else {
            out << "address: " << seen->address << " (" << seen->address_how << ")\n";
        }
        if (seen->timed_out) {
            out << (seen->reached == ServerProbe::Reached::address ? "connection" : "TLS")
                << ": no answer within the time limit\n";
        } else if (seen->reached == ServerProbe::Reached::address) {
            out << "connection: refused or unreachable (" << seen->failure << ")\n";
        } else if (seen->reached == ServerProbe::Reached::connection) {
            out << "TLS: handshake failed: " << seen->failure << "\n";
            if (seen->protocol_refused) {
                out << "TLS: "
                    << (seen->old_version.empty() ? std::string("no TLS 1.0 or 1.1 either")
                                                  : "the server speaks " + seen->old_version + " (TLS 1.2 needed)")
                    << "\n";
            }
        } else if (seen->reached == ServerProbe::Reached::handshake) {
            out << "TLS: " << seen->tls_version << ", " << seen->cipher << "\n";
        }
        if (!seen->presented.empty()) {
            out << "\nPresented by the server (" << counted(seen->presented.size(), "certificate") << "):\n";
            for (std::size_t i = 0; i < seen->presented.size(); ++i) {
                write_certificate(out, padded("depth " + std::to_string(i), 9), seen->presented[i]);
            }
        }
    }
    out << "\nTrust file " << report.trust_path;
    if (!report.trust.loaded) {
        out << ": does not load: " << report.trust.refusal << "\n";
    } else {
        out << " (" << counted(report.trust.certificates.size(), "certificate") << "):\n";
        for (std::size_t i = 0; i < report.trust.certificates.size(); ++i) {
            write_certificate(out, padded("entry " + std::to_string(i + 1), 9), report.trust.certificates[i]);
        }
    }
    if (seen && seen->reached == ServerProbe::Reached::handshake) {
        const std::vector<IssuerKey> keys = issuer_keys(seen->presented, report.trust.certificates);
        out << "\nIssuer keys in the trust file (each presented certificate after the server's own):\n";
        if (keys.empty()) {
            out << "  none presented: nothing to compare\n";
        }
        for (const IssuerKey &key : keys) {
            out << "  depth " << key.depth << " (" << seen->presented[key.depth].subject
                << "): " << (key.trust_entry ? "yes, entry " + std::to_string(*key.trust_entry) : std::string("NO"))
                << "\n";
        }
        out << "\nChain verification against the trust file: ";
        if (seen->verify_errors.empty()) {
            out << "verified\n";
        } else {
            out << "fails\n";
            for (const VerifyError &error : seen->verify_errors) {
                out << "  depth " << error.depth << ": " << error.words << " (" << error.code << ")\n";
            }
        }
    }
    const Verdict &verdict = report.verdict;
    if (verdict.timed_out) {
        out << "\nVerdict: none: the server took longer than the time limit\n";
    } else {
        out << "\nVerdict: iSSL_SendThenRecv would return " << verdict.result << ": " << words(verdict.result) << "\n";
    }
    if (verdict.result == 0 && !verdict.timed_out) {
        out << "The server is trusted: the exchange would send the request and read the answer.\n";
    }
    for (const std::string &fix : verdict.fixes) {
        out << "Fix: " << fix << "\n";
    }
}

void write_check_json(std::ostream &out, const CheckReport &report)
{
    Json json{{"host", report.host}, {"port", report.port}};
    const std::optional<ServerProbe> &seen = report.seen;
    Json server = nullptr;
    if (seen) {
        server = Json{{"address", seen->reached == ServerProbe::Reached::nothing ? Json(nullptr) : Json(seen->address)},
                      {"connected", seen->reached >= ServerProbe::Reached::connection},
                      {"handshake", seen->reached == ServerProbe::Reached::handshake},
                      {"failure", seen->failure.empty() ? Json(nullptr) : Json(seen->failure)},
                      {"tls_version", seen->tls_version.empty() ? Json(nullptr) : Json(seen->tls_version)},
                      {"cipher", seen->cipher.empty() ? Json(nullptr) : Json(seen->cipher)},
                      {"old_tls_version", seen->old_version.empty() ? Json(nullptr) : Json(seen->old_version)}};
        const std::vector<IssuerKey> keys = issuer_keys(seen->presented, report.trust.certificates);
        Json presented = Json::array();
        for (std::size_t i = 0; i < seen->presented.size(); ++i) {
            Json entry = certificate_json(seen->presented[i]);
            entry["depth"] = i;
            entry["key_in_trust_file"] = i == 0 ? Json(nullptr) : Json(keys[i - 1].trust_entry.has_value());
            entry["trust_entry"] = i == 0 || !keys[i - 1].trust_entry ? Json(nullptr) : Json(*keys[i - 1].trust_entry);
            presented.push_back(entry);
        }
        server["presented"] = presented;
        Json errors = Json::array();
        for (const VerifyError &error : seen->verify_errors) {
            errors.push_back(Json{{"depth", error.depth}, {"code", error.code}, {"words", error.words}});
        }
        server["verified"] = seen->reached == ServerProbe::Reached::handshake ? Json(errors.empty()) : Json(nullptr);
        server["verify_errors"] = errors;
    }
    json["server"] = server;
    Json trusted = Json::array();
    for (const CertificateFacts &certificate : report.trust.certificates) {
        trusted.push_back(certificate_json(certificate));
    }
    json["trust_file"] = Json{{"path", report.trust_path},
                              {"loaded", report.trust.loaded},
                              {"refusal", report.trust.loaded ? Json(nullptr) : Json(report.trust.refusal)},
                              {"certificates", trusted}};
    const Verdict &verdict = report.verdict;
    json["verdict"] = Json{{"result", verdict.timed_out ? Json(nullptr) : Json(verdict.result)},
                           {"words", verdict.timed_out ? Json("no verdict: the server took longer than the time limit")
                                                       : Json(words(verdict.result))},
                           {"timed_out", verdict.timed_out},
                           {"fixes", verdict.fixes}};
    json["exit_status"] = verdict_exit_status(verdict);
    escape_strings(json);
    out << json.dump(2) << "\n";
}

}  // namespace dvkc::tool
