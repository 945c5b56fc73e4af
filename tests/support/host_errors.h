// The host's own OpenSSL errors, queued before a call into the library, and
// the check that the call left them exactly as they were.
#pragma once

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

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

// --- Where the host's marks are ---

// A host's queue, built step by step: an entry (named by its line, above 0)
// or, for 0, a mark on the newest entry.
struct MarkedQueue {
    const char *name;
    std::vector<int> steps;
    std::string expected;  // what marks_and_entries() gives for it
};

inline void PrintTo(const MarkedQueue &queue, std::ostream *out)
{
    *out << queue.name;
}

// Whether the library puts each host mark back on its own entry: with
// OpenSSL 3.0 and its deprecated interfaces (the error state) at hand.
// Otherwise all of the host's marks come back on its newest entry.
inline bool marks_come_back_by_entry()
{
#if defined(OPENSSL_NO_DEPRECATED_3_0)
    return false;
#else
    return OPENSSL_version_major() == 3 && OPENSSL_version_minor() == 0;
#endif
}

// The line the host entry D, queued after the call, carries.
inline constexpr int kEntryAfterTheCall = 99;

inline void queue_marked(const MarkedQueue &queue)
{
    ERR_clear_error();
    for (const int step : queue.steps) {
        if (step == 0) {
            ERR_set_mark();
        } else {
            ERR_new();
            ERR_set_debug("host.c", step, "host");
            ERR_set_error(ERR_LIB_USER, step, nullptr);
        }
    }
}

inline int newest_line()
{
    int line = 0;
    static_cast<void>(ERR_peek_last_error_all(nullptr, &line, nullptr, nullptr, nullptr));
    return line;
}

// Queues `queue`, runs `call`, queues the entry D, and then says where the
// marks are: "pops:" the newest entry after each ERR_pop_to_mark() that
// finds a mark, and "after one pop:" the entries a single ERR_pop_to_mark()
// leaves, oldest first. Each needs a queue of its own, so `call` runs twice.
inline std::string marks_and_entries(const MarkedQueue &queue, const std::function<void()> &call)
{
    const auto queue_and_call = [&] {
        queue_marked(queue);
        call();
        ERR_new();
        ERR_set_debug("host.c", kEntryAfterTheCall, "host");
        ERR_set_error(ERR_LIB_USER, kEntryAfterTheCall, nullptr);
    };
    std::ostringstream text;
    text << "pops:";
    queue_and_call();
    while (ERR_pop_to_mark() == 1) {
        text << ' ' << newest_line();
    }
    text << " | after one pop:";
    queue_and_call();
    static_cast<void>(ERR_pop_to_mark());
    for (;;) {
        const char *file = nullptr;
        int line = 0;
        static_cast<void>(ERR_get_error_all(&file, &line, nullptr, nullptr, nullptr));
        if (file == nullptr) {
            return text.str();
        }
        text << ' ' << line;
    }
}

// Host queues with their marks in several places. The queue holds 15
// entries: the oldest go first when more are queued.
inline std::vector<MarkedQueue> marked_queues()
{
    // 20 entries with marks on 3 (gone before the call), 6 (pushed out by D),
    // 7, 12 twice, and 20.
    std::vector<int> full;
    std::string full_left;
    for (int line = 1; line <= 20; ++line) {
        full.push_back(line);
        if (line == 3 || line == 6 || line == 7 || line == 12 || line == 20) {
            full.push_back(0);
        }
        if (line == 12) {
            full.push_back(0);
        }
        if (line >= 7) {
            full_left += ' ' + std::to_string(line);
        }
    }
    return {
        // A, B, mark, C: the host's ERR_pop_to_mark() leaves exactly A and B.
        MarkedQueue{"MarkUnderTheNewest", {1, 2, 0, 3}, "pops: 2 | after one pop: 1 2"},
        MarkedQueue{"MarkOnTheNewest", {1, 2, 0}, "pops: 2 | after one pop: 1 2"},
        MarkedQueue{"MarkOnTheOldest", {1, 0, 2, 3}, "pops: 1 | after one pop: 1"},
        MarkedQueue{"TwoMarksOnOneEntry", {1, 2, 0, 0, 3}, "pops: 2 2 | after one pop: 1 2"},
        MarkedQueue{"MarksOnSeveral", {1, 0, 2, 0, 0, 3, 4, 0, 5}, "pops: 4 2 2 1 | after one pop: 1 2 3 4"},
        MarkedQueue{"NoMarks", {1, 2, 3}, "pops: | after one pop:"},
        MarkedQueue{"FullQueueWithMarks", full, "pops: 20 12 12 7 | after one pop:" + full_left},
    };
}

}  // namespace dvkc::test
