#include "query/query_input.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "cli/endpoint_options.h"
#include "cli/exit_status.h"
#include "common/input_checks.h"
#include "dvkc.h"

namespace dvkc::tool {
namespace {

int report(std::ostream &err, const std::string &why, int status)
{
    err << "dvkc: " << why << "\n";
    return status;
}

int check_records(const QueryOptions &options, const RecordSource &records, std::ostream &err)
{
    const std::string source = options.records_file == "-" ? "standard input" : options.records_file;
    if (records.rejected() > 0) {
        for (const LineError &error : records.first_errors()) {
            err << "dvkc: " << source << ": " << format_line_error(error) << "\n";
        }
        if (records.rejected() > records.first_errors().size()) {
            err << "dvkc: ... and " << records.rejected() - records.first_errors().size() << " more rejected lines\n";
        }
        return report(err, std::to_string(records.rejected()) + " line(s) rejected; nothing was sent", exit_input);
    }
    if (records.size() == 0) {
        return report(err, source + " holds no records; nothing was sent", exit_input);
    }
    return exit_ok;
}

SignatureSource make_signer(const QueryOptions &options)
{
    switch (options.signature_kind) {
    case QueryOptions::SignatureKind::file:
        if (std::string why = file_problem(options.signature, "signature file"); !why.empty()) {
            throw SignatureError(why);
        }
        return SignatureSource::from_file(options.signature);
    case QueryOptions::SignatureKind::command:
        return SignatureSource::from_command(options.signature, std::chrono::seconds(options.sign_timeout),
                                             options.batch.helper);
    case QueryOptions::SignatureKind::text:
        break;
    }
    return SignatureSource::from_text(options.signature);
}

}  // namespace

int check_command_line(QueryOptions &options, std::ostream &err)
{
    // --dry-run sends nothing: it needs no host and no trust file.
    if (std::string why = read_endpoint(options.batch.endpoint, options.port, !options.dry_run); !why.empty()) {
        return report(err, why, exit_usage);
    }
    return exit_ok;
}

int read_input(QueryOptions &options, std::istream &in, std::ostream &err, QueryInput &input)
{
    try {
        input.records = std::make_unique<RecordSource>(options.records_file, in);
    } catch (const std::runtime_error &e) {
        return report(err, e.what(), exit_input);
    }
    if (const int status = check_records(options, *input.records, err); status != exit_ok) {
        return status;
    }
    std::string &identity = options.batch.identity_file;
    try {
        // The library digests no more than this of it.
        input.identity.emplace(identity, "identity file", nullptr, DVKC_IDENTITY_READ_MAX);
    } catch (const InputFileError &e) {
        return report(err, e.what(), exit_input);
    }
    if (input.identity->size() == 0 && !options.quiet) {
        err << "dvkc: warning: the identity file " << identity
            << " is empty; the ClientID will be the SHA-1 of nothing\n";
    }
    identity = input.identity->path();
    if (!options.dry_run) {
        std::string &trust = options.batch.endpoint.trust_file;
        try {
            input.trust.emplace(trust, "trust file");
        } catch (const InputFileError &e) {
            return report(err, e.what(), exit_input);
        }
        if (std::string why = trust_file_problem(input.trust->path(), trust); !why.empty()) {
            return report(err, why, exit_input);
        }
        trust = input.trust->path();
    }
    try {
        input.signer.emplace(make_signer(options));
    } catch (const SignatureError &e) {
        return report(err, e.what(), exit_input);
    }
    return exit_ok;
}

}  // namespace dvkc::tool
