// Stirs the TLS library's random pool with a block from our own generator.
#pragma once

namespace dvkc::transport {

// Seeds the calling thread's generator with the time in seconds, draws 100
// values into a block of 32-bit integers and adds the block's 400 bytes to
// OpenSSL's random pool.
void add_seed_block() noexcept;

}  // namespace dvkc::transport
