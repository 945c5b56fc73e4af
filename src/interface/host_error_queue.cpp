#include "interface/host_error_queue.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include "interface/openssl_start.h"

namespace dvkc {

HostErrorQueue::HostErrorQueue() noexcept : started_(start_openssl(OpenSslPart::crypto))
{
    if (!started_) {
        return;  // OpenSSL is gone (cleaned up): no queue to keep, no call to make
    }
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
        entries_[count_++] =
            Entry{code, line, OPENSSL_strdup(file), function != nullptr ? OPENSSL_strdup(function) : nullptr,
                  has_text ? OPENSSL_strdup(data) : nullptr};
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
    }
    for (unsigned long i = 0; i < marks_ && count_ > 0; ++i) {
        ERR_set_mark();
    }
}

}  // namespace dvkc
