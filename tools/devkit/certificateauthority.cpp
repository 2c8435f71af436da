#include "certificateauthority.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

constexpr int RsaKeyBits = 2048;

struct BioFree
{
    void operator()(BIO *b) const { BIO_free(b); }
};
struct PkeyFree
{
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct X509Free
{
    void operator()(X509 *x) const { X509_free(x); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;

QString opensslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("unknown OpenSSL error");
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    return QString::fromLatin1(buf);
}

QByteArray bioContents(BIO *bio)
{
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    return len > 0 ? QByteArray(data, int(len)) : QByteArray();
}

QByteArray certToPem(X509 *cert)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1)
        return {};
    return bioContents(bio.get());
}

QByteArray keyToPem(EVP_PKEY *key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio)
        return {};
    const int ok =
        EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA
            ? PEM_write_bio_PrivateKey_traditional(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
            : PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    return ok == 1 ? bioContents(bio.get()) : QByteArray();
}

X509Ptr certFromPem(const QByteArray &pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.constData(), pem.size()));
    return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

PkeyPtr keyFromPem(const QByteArray &pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.constData(), pem.size()));
    // An empty pass phrase: an encrypted key is refused instead of prompting on the terminal.
    return PkeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char *>(""))
                       : nullptr);
}

PkeyPtr makeKey(CertificateAuthority::KeyType type)
{
    return PkeyPtr(type == CertificateAuthority::Ec ? EVP_EC_gen("P-256") : EVP_RSA_gen(RsaKeyBits));
}

bool randomSerial(X509 *cert)
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    bytes[0] &= 0x7f; // positive
    bytes[0] |= 0x01; // and never zero
    BIGNUM *bn = BN_bin2bn(bytes, sizeof bytes, nullptr);
    if (!bn)
        return false;
    const bool ok = BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert)) != nullptr;
    BN_free(bn);
    return ok;
}

bool addExtension(X509 *cert, X509 *issuer, int nid, const QByteArray &value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.constData());
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

enum class Kind { Authority, Server, Client, SelfSignedServer };

// Makes a certificate for key, signed by issuerKey under issuer (self-signed when issuer is null).
X509Ptr makeCertificate(Kind kind, const QString &commonName, const QString &altNames, long days,
                        EVP_PKEY *key, X509 *issuer, EVP_PKEY *issuerKey)
{
    X509Ptr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1 || !randomSerial(cert.get()))
        return nullptr;
    // An hour of slack for clocks that are slightly behind.
    if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24 * 3600))
        return nullptr;
    if (X509_set_pubkey(cert.get(), key) != 1)
        return nullptr;
    X509_NAME *name = X509_get_subject_name(cert.get());
    const QByteArray cn = commonName.toUtf8();
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>(cn.constData()), cn.size(), -1,
                                   0) != 1)
        return nullptr;
    X509 *signer = issuer ? issuer : cert.get();
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) != 1)
        return nullptr;

    bool ok = addExtension(cert.get(), signer, NID_subject_key_identifier, "hash") &&
              addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    switch (kind) {
    case Kind::Authority:
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
             addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        break;
    case Kind::SelfSignedServer:
        // As "openssl req -x509" makes it: its own authority, without restrictions of use.
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        break;
    case Kind::Server:
    case Kind::Client:
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE") &&
             addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             addExtension(cert.get(), signer, NID_ext_key_usage,
                          kind == Kind::Server ? "serverAuth" : "clientAuth");
        break;
    }
    if (ok && !altNames.isEmpty())
        ok = addExtension(cert.get(), signer, NID_subject_alt_name, altNames.toLatin1());
    if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
        return nullptr;
    return cert;
}

bool stillValid(X509 *cert)
{
    return X509_cmp_current_time(X509_get0_notAfter(cert)) > 0;
}

} // namespace

struct CertificateAuthority::Impl
{
    X509Ptr cert;
    PkeyPtr key;
};

CertificateAuthority::CertificateAuthority() : d(new Impl) {}

CertificateAuthority::~CertificateAuthority()
{
    delete d;
}

bool CertificateAuthority::create(const QString &commonName, long days)
{
    PkeyPtr key = makeKey(Ec);
    if (!key) {
        m_error = QStringLiteral("cannot make the CA key: ") + opensslError();
        return false;
    }
    X509Ptr cert = makeCertificate(Kind::Authority, commonName, QString(), days, key.get(), nullptr, nullptr);
    if (!cert) {
        m_error = QStringLiteral("cannot make the CA certificate: ") + opensslError();
        return false;
    }
    d->cert = std::move(cert);
    d->key = std::move(key);
    return true;
}

bool CertificateAuthority::load(const QByteArray &certPem, const QByteArray &keyPem)
{
    X509Ptr cert = certFromPem(certPem);
    PkeyPtr key = keyFromPem(keyPem);
    if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1) {
        m_error = QStringLiteral("not a CA certificate and its key: ") + opensslError();
        return false;
    }
    d->cert = std::move(cert);
    d->key = std::move(key);
    return true;
}

bool CertificateAuthority::isNull() const
{
    return !d->cert || !d->key;
}

bool CertificateAuthority::hasExpired() const
{
    return d->cert && !stillValid(d->cert.get());
}

QByteArray CertificateAuthority::certificatePem() const
{
    return d->cert ? certToPem(d->cert.get()) : QByteArray();
}

QByteArray CertificateAuthority::keyPem() const
{
    return d->key ? keyToPem(d->key.get()) : QByteArray();
}

CertificateAuthority::Credentials CertificateAuthority::issue(const Leaf &leaf)
{
    if (isNull()) {
        m_error = QStringLiteral("no CA to issue certificates");
        return {};
    }
    PkeyPtr key = makeKey(leaf.keyType);
    if (!key) {
        m_error = QStringLiteral("cannot make the key of %1: ").arg(leaf.commonName) + opensslError();
        return {};
    }
    X509Ptr cert = makeCertificate(leaf.purpose == Server ? Kind::Server : Kind::Client, leaf.commonName,
                                   leaf.altNames, leaf.days, key.get(), d->cert.get(), d->key.get());
    if (!cert) {
        m_error = QStringLiteral("cannot make the certificate of %1: ").arg(leaf.commonName) + opensslError();
        return {};
    }
    return {keyToPem(key.get()), certToPem(cert.get())};
}

bool CertificateAuthority::hasIssued(const QByteArray &certPem, const QByteArray &keyPem) const
{
    if (isNull())
        return false;
    X509Ptr cert = certFromPem(certPem);
    PkeyPtr key = keyFromPem(keyPem);
    const bool ok = cert && key && X509_check_private_key(cert.get(), key.get()) == 1 &&
                    X509_verify(cert.get(), X509_get0_pubkey(d->cert.get())) == 1 && stillValid(cert.get());
    ERR_clear_error();
    return ok;
}

CertificateAuthority::Credentials CertificateAuthority::selfSigned(const Leaf &leaf, QString *error)
{
    PkeyPtr key = makeKey(leaf.keyType);
    X509Ptr cert = key ? makeCertificate(Kind::SelfSignedServer, leaf.commonName, leaf.altNames, leaf.days,
                                         key.get(), nullptr, nullptr)
                       : nullptr;
    if (!cert) {
        if (error)
            *error = QStringLiteral("cannot make a self-signed certificate: ") + opensslError();
        return {};
    }
    return {keyToPem(key.get()), certToPem(cert.get())};
}
