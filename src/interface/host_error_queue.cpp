// Reads OpenSSL 3.0's thread error state, which OpenSSL declares deprecated:
// its deprecation warnings are silenced for this file alone.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "interface/host_error_queue.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include "interface/openssl_start.h"

namespace dvkc {
namespace {

// OpenSSL 3.0 keeps a thread's queue in a ring of this many slots.
constexpr int kQueueSlots = 16;

// The mark counts of the thread's queued entries, oldest first, as read from
// OpenSSL's error state; `valid` only when the state looked sound.
struct MarksByEntry {
    bool valid = false;
    std::size_t count = 0;
    unsigned long total = 0;
    int marks[kQueueSlots] = {};
};

#if defined(OPENSSL_NO_DEPRECATED_3_0)

// This OpenSSL's headers have no error state to read.
MarksByEntry read_marks_by_entry() noexcept
{
    return {};
}

#else

static_assert(ERR_NUM_ERRORS == kQueueSlots);

// OpenSSL 3.0 keeps the queue in a ring of ERR_NUM_ERRORS slots: the entries
// are the slots after `bottom` up to and including `top`, and `err_marks`
// counts the marks set on each. Only 3.0's state has that shape (its public
// header declares it); a later OpenSSL's is not read at all.
MarksByEntry read_marks_by_entry() noexcept
{
    MarksByEntry found;
    if (OPENSSL_version_major() != 3 || OPENSSL_version_minor() != 0) {
        return found;
    }
    const ERR_STATE *state = ERR_get_state();
    if (state == nullptr) {
        return found;
    }
    const int top = state->top;
    const int bottom = state->bottom;
    if (top < 0 || top >= ERR_NUM_ERRORS || bottom < 0 || bottom >= ERR_NUM_ERRORS) {
        return found;
    }
    for (int slot = bottom; slot != top;) {
        slot = (slot + 1) % ERR_NUM_ERRORS;
        const int marks = state->err_marks[slot];
        if (marks < 0) {
            return {};
        }
        found.marks[found.count++] = marks;
        found.total += static_cast<unsigned long>(marks);
    }
    found.valid = true;
    return found;
}

#endif

}  // namespace

HostErrorQueue::HostErrorQueue() noexcept : started_(start_openssl(OpenSslPart::crypto))
{
    if (!started_) {
        return;  // OpenSSL is gone (cleaned up): no queue to keep, no call to make
    }
    const MarksByEntry by_entry = read_marks_by_entry();  // before the loops below change the state
    while (ERR_clear_last_mark() == 1) {
        ++marks_;
    }
    for (;;) {
        // An empty queue leaves `file` alone; any entry, even one with code 0, sets it.
        const char *file = nullptr;
        const char *function = nullptr;
        const char *data = nullptr;
        int line = 0;
        int flags = 0;
        const unsigned long code = ERR_get_error_all(&file, &line, &function, &data, &flags);
        if (file == nullptr) {
            break;
        }
        if (count_ == kCapacity) {
            continue;  // cannot happen with OpenSSL's queue length; drop rather than overrun
        }
        const bool has_text = (flags & ERR_TXT_STRING) != 0 && data != nullptr;
        entries_[count_++] = Entry{code,
                                   line,
                                   OPENSSL_strdup(file),
                                   function != nullptr ? OPENSSL_strdup(function) : nullptr,
                                   has_text ? OPENSSL_strdup(data) : nullptr,
                                   0};
    }
    // Trusted only when it saw what the public calls took off (an entry
    // OpenSSL had flagged for clearing, for one, is counted there but not here).
    marks_by_entry_ = by_entry.valid && by_entry.count == count_ && by_entry.total == marks_;
    for (std::size_t i = 0; marks_by_entry_ && i < count_; ++i) {
        entries_[i].marks = by_entry.marks[i];
    }
}

HostErrorQueue::~HostErrorQueue()
{
    if (!started_) {
        return;
    }
    ERR_clear_error();
    for (std::size_t i = 0; i < count_; ++i) {
        const Entry &entry = entries_[i];
        ERR_new();
        ERR_set_debug(entry.file, entry.line, entry.function);  // copies both texts
        OPENSSL_free(entry.file);
        OPENSSL_free(entry.function);
        ERR_set_error(ERR_GET_LIB(entry.code), ERR_GET_REASON(entry.code), nullptr);
        // Whether the entry is queued (a thread without a queue has none): any entry sets `raised`.
        const char *raised = nullptr;
        static_cast<void>(ERR_peek_last_error_all(&raised, nullptr, nullptr, nullptr, nullptr));
        if (entry.data != nullptr && raised != nullptr) {
            // The entry is queued: the queue takes the copy over and frees it with the entry.
            ERR_set_error_data(entry.data, ERR_TXT_MALLOCED | ERR_TXT_STRING);
        } else {
            OPENSSL_free(entry.data);  // no queue to hold it (or nothing to free)
        }
        for (int mark = 0; mark < entry.marks; ++mark) {
            ERR_set_mark();  // on the entry just raised
        }
    }
    for (unsigned long i = 0; !marks_by_entry_ && i < marks_ && count_ > 0; ++i) {
        ERR_set_mark();
    }
}

}  // namespace dvkc
