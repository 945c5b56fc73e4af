#include "transport/tls_seed.h"

#include <openssl/rand.h>

#include <cstdint>
#include <ctime>

#include "interface/prng.h"

namespace dvkc::transport {

void add_seed_block() noexcept
{
    prng::seed(static_cast<std::uint32_t>(std::time(nullptr)));
    std::int32_t block[100];
    for (std::int32_t &value : block) {
        value = prng::draw();
    }
    RAND_seed(block, sizeof block);
}

}  // namespace dvkc::transport
