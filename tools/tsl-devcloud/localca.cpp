#include "localca.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

constexpr long CaDays = 3650;
constexpr long LeafDays = 3650;
constexpr int ClientKeyBits = 2048;
constexpr char CaName[] = "TSL DevCloud Local CA";

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

// RSA keys in the traditional "BEGIN RSA PRIVATE KEY" form, which every consumer reads; other keys
// as unencrypted PKCS#8.
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

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data, bool secret)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (secret && !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    if (f.write(data) != data.size())
        return false;
    return f.commit();
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

bool addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

struct CertSpec
{
    QString commonName;
    long days = LeafDays;
    enum Kind { Authority, Server, Client } kind = Client;
};

// Makes a certificate for key, signed by issuerKey under issuer (self-signed when issuer is null).
X509Ptr makeCertificate(const CertSpec &spec, EVP_PKEY *key, X509 *issuer, EVP_PKEY *issuerKey)
{
    X509Ptr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1 || !randomSerial(cert.get()))
        return nullptr;
    // An hour of slack for clocks that are slightly behind.
    if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), spec.days * 24 * 3600))
        return nullptr;
    if (X509_set_pubkey(cert.get(), key) != 1)
        return nullptr;
    X509_NAME *name = X509_get_subject_name(cert.get());
    const QByteArray cn = spec.commonName.toUtf8();
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>(cn.constData()), cn.size(), -1,
                                   0) != 1)
        return nullptr;
    X509 *signer = issuer ? issuer : cert.get();
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) != 1)
        return nullptr;

    bool ok = addExtension(cert.get(), signer, NID_subject_key_identifier, "hash") &&
              addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    switch (spec.kind) {
    case CertSpec::Authority:
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
             addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        break;
    case CertSpec::Server:
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE") &&
             addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
             addExtension(cert.get(), signer, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
        break;
    case CertSpec::Client:
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE") &&
             addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             addExtension(cert.get(), signer, NID_ext_key_usage, "clientAuth");
        break;
    }
    if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
        return nullptr;
    return cert;
}

bool stillValid(X509 *cert)
{
    return X509_cmp_current_time(X509_get0_notAfter(cert)) > 0;
}

} // namespace

struct LocalCa::Impl
{
    X509Ptr caCert;
    PkeyPtr caKey;
};

LocalCa::LocalCa(const QString &dataDir) : m_dir(dataDir), d(new Impl) {}

LocalCa::~LocalCa()
{
    delete d;
}

QString LocalCa::path(const QString &name) const
{
    return QDir(m_dir).filePath(name);
}

QString LocalCa::caCertPath() const
{
    return path(QStringLiteral("ca.crt"));
}

QString LocalCa::serverCertPath() const
{
    return path(QStringLiteral("server.crt"));
}

QString LocalCa::serverKeyPath() const
{
    return path(QStringLiteral("server.key"));
}

QString LocalCa::consoleCertPath() const
{
    return path(QStringLiteral("console.crt"));
}

QString LocalCa::consoleKeyPath() const
{
    return path(QStringLiteral("console.key"));
}

bool LocalCa::open()
{
    const QString keyPath = path(QStringLiteral("ca.key"));
    const bool haveCert = QFileInfo::exists(caCertPath());
    const bool haveKey = QFileInfo::exists(keyPath);
    if (!haveCert && !haveKey) {
        if (!makeCa())
            return false;
    } else {
        // Never replace an existing authority behind the user's back: every gateway it certified
        // would silently stop working.
        d->caCert = certFromPem(readFile(caCertPath()));
        d->caKey = keyFromPem(readFile(keyPath));
        if (!d->caCert || !d->caKey || X509_check_private_key(d->caCert.get(), d->caKey.get()) != 1) {
            ERR_clear_error();
            m_error = QStringLiteral("%1 and %2 do not hold a usable CA certificate and key; remove both to "
                                     "start a new CA (gateways registered before must then register again)")
                          .arg(caCertPath(), keyPath);
            return false;
        }
        if (!stillValid(d->caCert.get())) {
            m_error = QStringLiteral("the CA certificate %1 has expired").arg(caCertPath());
            return false;
        }
    }
    return ensureLeaf(QStringLiteral("server"), QStringLiteral("localhost"), true) &&
           ensureLeaf(QStringLiteral("console"), QStringLiteral("console"), false);
}

bool LocalCa::makeCa()
{
    PkeyPtr key(EVP_EC_gen("P-256"));
    if (!key) {
        m_error = QStringLiteral("cannot make the CA key: ") + opensslError();
        return false;
    }
    CertSpec spec{QString::fromLatin1(CaName), CaDays, CertSpec::Authority};
    X509Ptr cert = makeCertificate(spec, key.get(), nullptr, nullptr);
    if (!cert) {
        m_error = QStringLiteral("cannot make the CA certificate: ") + opensslError();
        return false;
    }
    // The key first: a certificate without its key would block the next start.
    if (!writeFile(path(QStringLiteral("ca.key")), keyToPem(key.get()), true) ||
        !writeFile(caCertPath(), certToPem(cert.get()), false)) {
        m_error = QStringLiteral("cannot write the CA files into %1").arg(m_dir);
        return false;
    }
    d->caCert = std::move(cert);
    d->caKey = std::move(key);
    return true;
}

bool LocalCa::ensureLeaf(const QString &baseName, const QString &commonName, bool server)
{
    const QString certPath = path(baseName + QStringLiteral(".crt"));
    const QString keyPath = path(baseName + QStringLiteral(".key"));
    {
        X509Ptr cert = certFromPem(readFile(certPath));
        PkeyPtr key = keyFromPem(readFile(keyPath));
        EVP_PKEY *caPublic = X509_get0_pubkey(d->caCert.get());
        if (cert && key && X509_check_private_key(cert.get(), key.get()) == 1 &&
            X509_verify(cert.get(), caPublic) == 1 && stillValid(cert.get()))
            return true;
        ERR_clear_error();
    }
    PkeyPtr key(server ? EVP_EC_gen("P-256") : EVP_RSA_gen(ClientKeyBits));
    if (!key) {
        m_error = QStringLiteral("cannot make the key of %1: ").arg(baseName) + opensslError();
        return false;
    }
    CertSpec spec{commonName, LeafDays, server ? CertSpec::Server : CertSpec::Client};
    X509Ptr cert = makeCertificate(spec, key.get(), d->caCert.get(), d->caKey.get());
    if (!cert) {
        m_error = QStringLiteral("cannot make the certificate of %1: ").arg(baseName) + opensslError();
        return false;
    }
    if (!writeFile(keyPath, keyToPem(key.get()), true) ||
        !writeFile(certPath, certToPem(cert.get()), false)) {
        m_error = QStringLiteral("cannot write %1 and %2").arg(certPath, keyPath);
        return false;
    }
    return true;
}

LocalCa::Credentials LocalCa::issueClient(const QString &commonName)
{
    Credentials out;
    if (!d->caCert || !d->caKey)
        return out;
    PkeyPtr key(EVP_RSA_gen(ClientKeyBits));
    if (!key) {
        m_error = QStringLiteral("cannot make a client key: ") + opensslError();
        return out;
    }
    X509Ptr cert = makeCertificate(CertSpec{commonName, LeafDays, CertSpec::Client}, key.get(),
                                   d->caCert.get(), d->caKey.get());
    if (!cert) {
        m_error = QStringLiteral("cannot make a client certificate: ") + opensslError();
        return out;
    }
    out.keyPem = keyToPem(key.get());
    out.certPem = certToPem(cert.get());
    return out;
}
