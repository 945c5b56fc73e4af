// Leaves the calling thread's OpenSSL error queue as the host left it.
//
// OpenSSL clears the thread's queue inside calls such as SSL_connect and
// SSL_read, and queues errors of its own on any failure, so marks cannot keep
// the host's entries. Instead the host's entries are taken off the queue when
// an exported call starts, and when it ends everything queued meanwhile is
// dropped and the host's entries are raised again, in their order, with their
// library, reason, file, line, function, and data text (an empty text kept as
// a text); an entry with code 0 is one entry like any other.
//
// Marks: OpenSSL 3.0 lets a caller find only the newest marked entry, by
// popping every entry above it, so no program can take a queue off with its
// marks where they were. What is kept is their number: all of the host's
// marks come back on its newest entry. A host that sets its marks just
// before the call (the usual ERR_set_mark ... ERR_pop_to_mark bracket)
// finds them exactly as it left them.
#pragma once

#include <cstddef>

namespace dvkc {

class HostErrorQueue {
public:
    // Starts OpenSSL (the first OpenSSL call of every entry point, so that no
    // configuration is loaded) and takes the host's entries and marks off the
    // queue; does nothing at all once OpenSSL has been cleaned up.
    HostErrorQueue() noexcept;
    HostErrorQueue(const HostErrorQueue &) = delete;
    HostErrorQueue &operator=(const HostErrorQueue &) = delete;
    ~HostErrorQueue();  // drops ours, puts the host's back

private:
    // OpenSSL keeps file, function and data texts in the queue's slots,
    // which later errors reuse: each entry holds copies of its own.
    struct Entry {
        unsigned long code;
        int line;
        char *file;      // OPENSSL_strdup'd, or null
        char *function;  // ditto
        char *data;      // ditto (a text, possibly empty); handed to the queue again on the way out
    };
    // OpenSSL keeps at most 16 entries per thread; a few spare slots cost nothing.
    static constexpr std::size_t kCapacity = 32;
    Entry entries_[kCapacity]{};
    bool started_;
    std::size_t count_ = 0;
    unsigned long marks_ = 0;
};

}  // namespace dvkc
