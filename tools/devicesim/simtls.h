// A throw-away self-signed certificate for 127.0.0.1, made in memory so no key material is ever stored.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace devicesim {

struct TlsIdentity
{
    std::unique_ptr<X509, decltype(&X509_free)> pCertificate{nullptr, &X509_free};
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pKey{nullptr, &EVP_PKEY_free};

    bool isValid() const { return pCertificate && pKey; }
};

TlsIdentity makeSelfSignedIdentity();

} // namespace devicesim
