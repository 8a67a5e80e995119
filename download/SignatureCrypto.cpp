#include "SignatureCrypto.h"

#include "ExceptionQt.h"

#include <openssl/evp.h>

namespace crypto {

namespace {

[[noreturn]] void cryptoFailure() {
    throw erro(QStringLiteral("The cryptographic library failed while checking the package "
                              "signature."));
}

} // namespace

bool ed25519Verify(const std::array<unsigned char, 32>& publicKey, const void* message,
                   std::size_t size, const std::array<unsigned char, 64>& signature) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        cryptoFailure();
    // Ed25519 takes the message in one piece: there is no streaming form.
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                            static_cast<const unsigned char*>(message), size) == 1;
}

struct Blake2b512::Context {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
};

Blake2b512::Blake2b512() : context_(std::make_unique<Context>()) {
    if (!context_->ctx || EVP_DigestInit_ex(context_->ctx.get(), EVP_blake2b512(), nullptr) != 1)
        cryptoFailure();
}

Blake2b512::~Blake2b512() = default;

void Blake2b512::update(const void* data, std::size_t size) {
    if (EVP_DigestUpdate(context_->ctx.get(), data, size) != 1)
        cryptoFailure();
}

std::array<unsigned char, 64> Blake2b512::digest() {
    std::array<unsigned char, 64> out;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->ctx.get(), out.data(), &length) != 1 || length != out.size())
        cryptoFailure();
    return out;
}

} // namespace crypto
