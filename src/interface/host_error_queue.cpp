#include "interface/host_error_queue.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

namespace dvkc {

HostErrorQueue::HostErrorQueue() noexcept
{
    const char *file = nullptr;
    const char *function = nullptr;
    const char *data = nullptr;
    int line = 0;
    int flags = 0;
    for (;;) {
        const unsigned long code = ERR_get_error_all(&file, &line, &function, &data, &flags);
        if (code == 0) {
            break;
        }
        if (count_ == kCapacity) {
            continue;  // cannot happen with OpenSSL's queue length; drop rather than overrun
        }
        const bool has_text = (flags & ERR_TXT_STRING) != 0 && data != nullptr && *data != '\0';
        entries_[count_++] =
            Entry{code, line, file != nullptr ? OPENSSL_strdup(file) : nullptr,
                  function != nullptr ? OPENSSL_strdup(function) : nullptr, has_text ? OPENSSL_strdup(data) : nullptr};
    }
}

HostErrorQueue::~HostErrorQueue()
{
    ERR_clear_error();
    for (std::size_t i = 0; i < count_; ++i) {
        const Entry &entry = entries_[i];
        ERR_new();
        ERR_set_debug(entry.file, entry.line, entry.function);  // copies both texts
        OPENSSL_free(entry.file);
        OPENSSL_free(entry.function);
        ERR_set_error(ERR_GET_LIB(entry.code), ERR_GET_REASON(entry.code), nullptr);
        if (entry.data != nullptr && ERR_peek_last_error() != 0) {
            // The queue takes the copy over and frees it with the entry.
            ERR_set_error_data(entry.data, ERR_TXT_MALLOCED | ERR_TXT_STRING);
        } else {
            OPENSSL_free(entry.data);  // no queue to hold it (or nothing to free)
        }
    }
}

}  // namespace dvkc
