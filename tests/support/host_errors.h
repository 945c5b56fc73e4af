// The host's own OpenSSL errors, queued before a call into the library, and
// the check that the call left them exactly as they were.
#pragma once

#include <openssl/err.h>

#include <sstream>
#include <string>

namespace dvkc::test {

// Queues two errors as a host would: one with a data text, one without.
inline void queue_host_errors()
{
    ERR_clear_error();
    ERR_new();
    ERR_set_debug("host.c", 11, "host_first");
    ERR_set_error(ERR_LIB_USER, 101, "host data %d", 1);
    ERR_new();
    ERR_set_debug("host.c", 22, "host_second");
    ERR_set_error(ERR_LIB_SYS, 5, nullptr);
}

// Takes the calling thread's whole queue off and describes it, one entry a line.
inline std::string take_error_queue()
{
    std::ostringstream text;
    const char *file = nullptr;
    const char *function = nullptr;
    const char *data = nullptr;
    int line = 0;
    int flags = 0;
    while (const unsigned long code = ERR_get_error_all(&file, &line, &function, &data, &flags)) {
        text << ERR_GET_LIB(code) << ':' << ERR_GET_REASON(code) << ' ' << (file ? file : "?") << ':' << line << ' '
             << (function ? function : "?") << " [" << ((flags & ERR_TXT_STRING) != 0 ? data : "") << "]\n";
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
