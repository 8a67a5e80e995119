#pragma once

// The two primitives the package signature needs, from OpenSSL's EVP.

#include <array>
#include <cstddef>
#include <memory>

namespace crypto {

// True when `signature` is a valid Ed25519 signature of the message by `publicKey`.
bool ed25519Verify(const std::array<unsigned char, 32>& publicKey, const void* message,
                   std::size_t size, const std::array<unsigned char, 64>& signature);

// BLAKE2b with a 64-byte digest, fed in pieces.
class Blake2b512 {
public:
    Blake2b512();
    ~Blake2b512();
    Blake2b512(const Blake2b512&) = delete;
    Blake2b512& operator=(const Blake2b512&) = delete;

    void update(const void* data, std::size_t size);
    std::array<unsigned char, 64> digest();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace crypto
