// The tool's exit statuses (also listed in --help and the documentation).
#pragma once

namespace dvkc::tool {

enum ExitStatus : int {
    exit_ok = 0,  // every batch answered; serve stopped cleanly; demo done
    exit_internal =
        1,            // unexpected failure; the output cannot be written (serve: cannot listen or load its certificate)
    exit_usage = 2,   // bad command line
    exit_input = 3,   // input rejected before anything was sent
    exit_failed = 4,  // no batch was answered
    exit_partial = 5,  // some batches answered, others failed
};

// The text of the exit statuses shown in --help.
inline constexpr const char *exit_status_help =
    "Exit status:\n"
    "  0  success (query: every batch answered; serve: stopped by a signal)\n"
    "  1  unexpected failure, or the output cannot be written (serve: cannot\n"
    "     listen or load its certificates)\n"
    "  2  bad command line\n"
    "  3  input rejected before anything was sent (records, identity, trust,\n"
    "     signature or codes file)\n"
    "  4  query: no batch was answered (the failures are reported per batch)\n"
    "  5  query: some batches were answered, others failed\n"
    "  129  query and demo: stopped by SIGHUP, 130 by SIGINT, 143 by SIGTERM\n"
    "       (query: the finished batches are printed; demo removes its temporary\n"
    "       files; serve stops on these signals with status 0)\n";

}  // namespace dvkc::tool
