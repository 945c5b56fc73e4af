// The host's own OpenSSL errors, queued before a call into the library, and
// the check that the call left them exactly as they were.
#pragma once

#include <openssl/err.h>

#include <sstream>
#include <string>

namespace dvkc::test {

// Queues errors as a host would: one with a data text, one with code 0, one
// with an empty data text, one without data, and two marks on the newest
// (the usual ERR_set_mark before a call).
inline void queue_host_errors()
{
    ERR_clear_error();
    ERR_new();
    ERR_set_debug("host.c", 11, "host_first");
    ERR_set_error(ERR_LIB_USER, 101, "host data %d", 1);
    ERR_new();
    ERR_set_debug("host.c", 15, "host_code_zero");
    ERR_set_error(0, 0, nullptr);
    ERR_new();
    ERR_set_debug("host.c", 18, "host_empty_text");
    ERR_set_error(ERR_LIB_USER, 102, "%s", "");
    ERR_new();
    ERR_set_debug("host.c", 22, "host_second");
    ERR_set_error(ERR_LIB_SYS, 5, nullptr);
    ERR_set_mark();
    ERR_set_mark();
}

// Takes the calling thread's whole queue off and describes it: what
// ERR_pop_to_mark gives, the marks left after it, then one entry a line.
inline std::string take_error_queue()
{
    std::ostringstream text;
    text << "pop to mark: " << ERR_pop_to_mark();
    int marks = 0;
    while (ERR_clear_last_mark() == 1) {
        ++marks;
    }
    text << ", marks left: " << marks << '\n';
    for (;;) {
        const char *file = nullptr;
        const char *function = nullptr;
        const char *data = nullptr;
        int line = 0;
        int flags = 0;
        const unsigned long code = ERR_get_error_all(&file, &line, &function, &data, &flags);
        if (file == nullptr) {
            break;  // the queue is empty (an entry, even of code 0, names a file)
        }
        text << ERR_GET_LIB(code) << ':' << ERR_GET_REASON(code) << ' ' << file << ':' << line << ' '
             << (function ? function : "?") << ((flags & ERR_TXT_STRING) != 0 ? " text [" : " no text [")
             << ((flags & ERR_TXT_STRING) != 0 ? data : "") << "]\n";
    }
    return text.str();
}

// What take_error_queue() gives right after queue_host_errors().
inline std::string host_errors_text()
{
    queue_host_errors();
    return take_error_queue();
}

}  // namespace dvkc::test
