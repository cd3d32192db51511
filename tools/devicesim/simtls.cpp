#include "simtls.h"

#include <openssl/ec.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

namespace devicesim {

namespace {

bool addSubjectAltName(X509 *pCertificate)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, pCertificate, pCertificate, nullptr, nullptr, 0);
    X509_EXTENSION *pExtension =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    if (!pExtension)
        return false;
    const bool bAdded = X509_add_ext(pCertificate, pExtension, -1) == 1;
    X509_EXTENSION_free(pExtension);
    return bAdded;
}

} // namespace

TlsIdentity makeSelfSignedIdentity()
{
    TlsIdentity identity;
    // P-256 rather than RSA: generation is instant, and every client in use speaks it.
    identity.pKey.reset(EVP_EC_gen("P-256"));
    identity.pCertificate.reset(X509_new());
    X509 *pCertificate = identity.pCertificate.get();
    if (!identity.isValid())
        return {};

    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    BIGNUM *pSerial = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(pSerial, X509_get_serialNumber(pCertificate));
    BN_free(pSerial);

    X509_set_version(pCertificate, 2);
    X509_gmtime_adj(X509_getm_notBefore(pCertificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(pCertificate), 365L * 24 * 3600);
    X509_set_pubkey(pCertificate, identity.pKey.get());

    X509_NAME *pName = X509_get_subject_name(pCertificate);
    X509_NAME_add_entry_by_txt(pName, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("Kestrol device simulator"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(pName, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(pCertificate, pName);

    if (!addSubjectAltName(pCertificate) || X509_sign(pCertificate, identity.pKey.get(), EVP_sha256()) == 0)
        return {};
    return identity;
}

} // namespace devicesim
