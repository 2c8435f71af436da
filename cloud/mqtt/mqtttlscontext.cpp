#include "mqtttlscontext.h"

#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>

#include <mutex>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

int observationsIndex()
{
    static int index = -1;
    static std::once_flag once;
    std::call_once(once, [] { index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
    return index;
}

TlsObservations *observationsOf(const SSL *ssl)
{
    return static_cast<TlsObservations *>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), observationsIndex()));
}

TlsObservations *observationsOf(X509_STORE_CTX *store)
{
    auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    return ssl ? observationsOf(ssl) : nullptr;
}

void recordVerifyError(X509_STORE_CTX *store)
{
    TlsObservations *obs = observationsOf(store);
    if (obs && obs->verifyError == 0)
        obs->verifyError = X509_STORE_CTX_get_error(store);
}

int verifyStrict(int ok, X509_STORE_CTX *store)
{
    if (!ok)
        recordVerifyError(store);
    return ok;
}

int verifyAllowingSelfSigned(int ok, X509_STORE_CTX *store)
{
    if (ok)
        return ok;
    const int err = X509_STORE_CTX_get_error(store);
    if (err == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT || err == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN)
        return 1;
    recordVerifyError(store);
    return ok;
}

void infoCallback(const SSL *ssl, int where, int ret)
{
    TlsObservations *obs = observationsOf(ssl);
    if (!obs)
        return;
    if ((where & SSL_CB_HANDSHAKE_START) && !obs->handshakeDone) {
        // libmosquitto puts the address it connected to into the SNI; we connect to a resolved
        // address, so replace it with the real host name (or drop it for an IP literal).
        char *name = obs->serverName.isEmpty() ? nullptr : obs->serverName.data();
        SSL_set_tlsext_host_name(const_cast<SSL *>(ssl), name);
    }
    if (where & SSL_CB_HANDSHAKE_DONE)
        obs->handshakeDone = true;
    if ((where & SSL_CB_ALERT) && (ret >> 8) == SSL3_AL_FATAL) {
        if (where & SSL_CB_READ) {
            obs->alertReceived = ret & 0xff;
        } else {
            // The error is queued before the alert goes out; libmosquitto drains the queue later.
            if (obs->alertSent < 0)
                obs->alertCause = ERR_peek_last_error();
            obs->alertSent = ret & 0xff;
        }
    }
}

QString opensslErrors()
{
    QStringList list;
    char buf[256];
    while (unsigned long e = ERR_get_error()) {
        ERR_error_string_n(e, buf, sizeof buf);
        list << QString::fromLatin1(buf);
    }
    return list.join(QLatin1String("; "));
}

X509 *toX509(const QSslCertificate &cert)
{
    const QByteArray der = cert.toDer();
    auto *p = reinterpret_cast<const unsigned char *>(der.constData());
    return der.isEmpty() ? nullptr : d2i_X509(nullptr, &p, der.size());
}

EVP_PKEY *toPrivateKey(const QSslKey &key)
{
    QByteArray pem = key.toPem();
    BIO *bio = BIO_new_mem_buf(pem.constData(), pem.size());
    EVP_PKEY *pkey = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    OPENSSL_cleanse(pem.data(), size_t(pem.size()));
    return pkey;
}

bool addTrustAnchors(SSL_CTX *ctx, const QList<QSslCertificate> &cas)
{
    X509_STORE *store = SSL_CTX_get_cert_store(ctx);
    int added = 0;
    for (const QSslCertificate &ca : cas) {
        X509 *x = toX509(ca);
        if (!x)
            return false;
        if (X509_STORE_add_cert(store, x) == 1)
            ++added;
        X509_free(x);
    }
    return added > 0;
}

bool useLocalIdentity(SSL_CTX *ctx, const QSslConfiguration &tls)
{
    const QList<QSslCertificate> chain = tls.localCertificateChain();
    const QSslCertificate cert = chain.isEmpty() ? tls.localCertificate() : chain.first();
    if (cert.isNull())
        return true; // no client certificate: the broker decides whether that is acceptable
    X509 *x = toX509(cert);
    const bool certOk = x && SSL_CTX_use_certificate(ctx, x) == 1;
    X509_free(x);
    if (!certOk)
        return false;
    for (int i = 1; i < chain.size(); ++i) {
        X509 *extra = toX509(chain.at(i));
        if (!extra || SSL_CTX_add1_chain_cert(ctx, extra) != 1) {
            X509_free(extra);
            return false;
        }
        X509_free(extra);
    }
    if (tls.privateKey().isNull())
        return false;
    EVP_PKEY *pkey = toPrivateKey(tls.privateKey());
    const bool keyOk = pkey && SSL_CTX_use_PrivateKey(ctx, pkey) == 1;
    EVP_PKEY_free(pkey);
    return keyOk && SSL_CTX_check_private_key(ctx) == 1;
}

} // namespace

QString TlsObservations::reason() const
{
    if (verifyError != 0)
        return QString::fromLatin1(X509_verify_cert_error_string(verifyError));
    if (alertCause != 0) {
        if (const char *text = ERR_reason_error_string(alertCause))
            return QString::fromLatin1(text);
    }
    if (alertSent >= 0)
        return QString::fromLatin1(SSL_alert_desc_string_long(alertSent));
    if (alertReceived < 0)
        return QString();
    // OpenSSL files a received alert under its own reason code ("tlsv13 alert certificate
    // required"); older alert names are also known to the short description table.
    const char *text =
        ERR_reason_error_string(ERR_PACK(ERR_LIB_SSL, 0, SSL_AD_REASON_OFFSET + alertReceived));
    if (!text)
        text = SSL_alert_desc_string_long(alertReceived);
    return QStringLiteral("%1 (from the broker)").arg(QLatin1String(text));
}

SSL_CTX *buildMqttSslContext(const QSslConfiguration &tls, const QString &peerName, bool ignoreSelfSigned,
                             TlsObservations *obs, QString *why)
{
    const int index = observationsIndex();
    ERR_clear_error();
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    auto fail = [&](const QString &what) -> SSL_CTX * {
        const QString detail = opensslErrors();
        *why = detail.isEmpty() ? what : what + QLatin1String(": ") + detail;
        SSL_CTX_free(ctx);
        return nullptr;
    };
    if (!ctx || index < 0)
        return fail(QStringLiteral("cannot create a TLS context"));
    if (peerName.isEmpty())
        return fail(QStringLiteral("no host name to verify"));

    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION);

    if (!addTrustAnchors(ctx, tls.caCertificates()))
        return fail(QStringLiteral("no usable CA certificate"));
    if (!useLocalIdentity(ctx, tls))
        return fail(QStringLiteral("local certificate or private key unusable"));

    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, ignoreSelfSigned ? verifyAllowingSelfSigned : verifyStrict);
    X509_VERIFY_PARAM *param = SSL_CTX_get0_param(ctx);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const QByteArray name = peerName.toUtf8();
    const bool isAddress = !QHostAddress(peerName).isNull();
    const int nameSet = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(param, name.constData())
                                  : X509_VERIFY_PARAM_set1_host(param, name.constData(), size_t(name.size()));
    if (nameSet != 1)
        return fail(QStringLiteral("cannot verify against host %1").arg(peerName));

    obs->serverName = isAddress ? QByteArray() : name;
    SSL_CTX_set_ex_data(ctx, index, obs);
    SSL_CTX_set_info_callback(ctx, infoCallback);
    return ctx;
}
