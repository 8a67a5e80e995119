// Adds the PEM certificate named on the command line to the current user's
// Windows root store, as an administrator trusting a private CA would.
// Exit code 0 once it is there.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: TrustCertificate FILE.pem\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() ||
        !::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "%s: no PEM certificate\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(size);
    ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                           der.data(), &size, nullptr, nullptr);
    HCERTSTORE store =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) {
        std::fprintf(stderr, "cannot open the root store: error %lu\n", ::GetLastError());
        return 1;
    }
    BOOL added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                    CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = ::GetLastError();
    ::CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "cannot add the certificate: error %lu\n", error);
        return 1;
    }
    return 0;
}
