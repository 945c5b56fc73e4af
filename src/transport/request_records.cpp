#include "transport/request_records.h"

#include <cstdint>

#include "transport/openssl_handles.h"

namespace dvkc::transport {

std::size_t request_records_size(std::size_t plain_size) noexcept
{
    constexpr std::size_t kRecordPlain = SSL3_RT_MAX_PLAIN_LENGTH;
    constexpr std::size_t kRecordOverhead = SSL3_RT_HEADER_LENGTH + SSL3_RT_MAX_ENCRYPTED_OVERHEAD;
    const std::size_t records = plain_size / kRecordPlain + 1;
    if (plain_size > SIZE_MAX / 2 || records > (SIZE_MAX / 2) / kRecordOverhead) {
        return SIZE_MAX;
    }
    return plain_size + records * kRecordOverhead;
}

void gather_request_records(SSL *connection, BIO *socket_bio, std::size_t plain_size) noexcept
{
    const std::size_t size = request_records_size(plain_size);
    if (size > INT32_MAX) {
        return;
    }
    BioPtr buffer(BIO_new(BIO_f_buffer()));
    if (!buffer || BIO_set_write_buffer_size(buffer.get(), static_cast<long>(size)) != 1 ||
        BIO_up_ref(socket_bio) != 1) {
        return;
    }
    BIO_push(buffer.get(), socket_bio);  // the chain holds the reference taken above
    SSL_set0_wbio(connection, buffer.release());
}

}  // namespace dvkc::transport
