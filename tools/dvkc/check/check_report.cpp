#include "check/check_report.h"

#include <nlohmann/json.hpp>

#include "dvkc.hpp"

namespace dvkc::tool {
namespace {

using Json = nlohmann::ordered_json;

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
    const std::optional<ServerInspection> &seen = report.seen;
    if (seen) {
        if (seen->reached == ServerInspection::Reached::nothing) {
            out << "address: none (" << seen->failure << ")\n";
        } else {
            out << "address: " << seen->address << " (" << seen->address_how << ")\n";
        }
        if (seen->reached == ServerInspection::Reached::address) {
            out << "connection: refused or unreachable (" << seen->failure << ")\n";
        } else if (seen->reached == ServerInspection::Reached::connection) {
            out << "TLS: handshake failed: " << seen->failure << "\n";
            if (seen->protocol_refused) {
                out << "TLS: "
                    << (seen->old_version.empty() ? std::string("no TLS 1.0 or 1.1 either")
                                                  : "the server speaks " + seen->old_version + " (TLS 1.2 needed)")
                    << "\n";
            }
        } else if (seen->reached == ServerInspection::Reached::handshake) {
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
    if (seen && seen->reached == ServerInspection::Reached::handshake) {
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
    out << "\nVerdict: iSSL_SendThenRecv would return " << verdict.result << ": " << words(verdict.result) << "\n";
    if (verdict.result == 0) {
        out << "The server is trusted: the exchange would send the request and read the answer.\n";
    }
    for (const std::string &fix : verdict.fixes) {
        out << "Fix: " << fix << "\n";
    }
}

void write_check_json(std::ostream &out, const CheckReport &report)
{
    Json json{{"host", report.host}, {"port", report.port}};
    const std::optional<ServerInspection> &seen = report.seen;
    Json server = nullptr;
    if (seen) {
        server =
            Json{{"address", seen->reached == ServerInspection::Reached::nothing ? Json(nullptr) : Json(seen->address)},
                 {"connected", seen->reached >= ServerInspection::Reached::connection},
                 {"handshake", seen->reached == ServerInspection::Reached::handshake},
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
        server["verified"] =
            seen->reached == ServerInspection::Reached::handshake ? Json(errors.empty()) : Json(nullptr);
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
    json["verdict"] = Json{
        {"result", report.verdict.result}, {"words", words(report.verdict.result)}, {"fixes", report.verdict.fixes}};
    json["exit_status"] = verdict_exit_status(report.verdict);
    out << json.dump(2) << "\n";
}

}  // namespace dvkc::tool
