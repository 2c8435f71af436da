#pragma once

#include <QByteArray>
#include <QString>

// A certification authority in memory: an EC P-256 key and its self-signed certificate, made anew
// or loaded from PEM, that issues server and client certificates with fresh keys. Keys come out as
// unencrypted PEM: RSA keys in the traditional "BEGIN RSA PRIVATE KEY" form, which every consumer
// reads, EC keys as PKCS#8.
//
//   CertificateAuthority ca;
//   if (!ca.create(QStringLiteral("Local CA"), 3650)) qWarning() << ca.errorString();
//   const auto server = ca.issue({QStringLiteral("localhost"), CertificateAuthority::Server,
//                                 CertificateAuthority::Ec, QStringLiteral("DNS:localhost")});
class CertificateAuthority
{
public:
    enum Purpose { Server, Client };
    enum KeyType {
        Ec,  // P-256
        Rsa, // 2048 bits
    };

    struct Leaf
    {
        QString commonName;
        Purpose purpose = Client;
        KeyType keyType = Rsa;
        // subjectAltName in OpenSSL's notation ("DNS:localhost,IP:127.0.0.1"); empty for none.
        QString altNames;
        // Validity from now on; a negative count ends it that many days ago.
        long days = 3650;
    };

    struct Credentials
    {
        QByteArray keyPem;
        QByteArray certPem;
        bool isNull() const { return keyPem.isEmpty() || certPem.isEmpty(); }
    };

    CertificateAuthority();
    ~CertificateAuthority();

    // A new authority of its own key, valid for days.
    bool create(const QString &commonName, long days);
    // An existing authority; false unless the two belong together.
    bool load(const QByteArray &certPem, const QByteArray &keyPem);
    bool isNull() const;
    bool hasExpired() const;
    QByteArray certificatePem() const;
    QByteArray keyPem() const;
    QString errorString() const { return m_error; }

    // A fresh key and a certificate for it signed by this authority; null on failure.
    Credentials issue(const Leaf &leaf);
    // True when certPem is a certificate of this authority for keyPem that has not expired.
    bool hasIssued(const QByteArray &certPem, const QByteArray &keyPem) const;

    // A self-signed server certificate for leaf that a client can trust as its own authority.
    static Credentials selfSigned(const Leaf &leaf, QString *error = nullptr);

    CertificateAuthority(const CertificateAuthority &) = delete;
    CertificateAuthority &operator=(const CertificateAuthority &) = delete;

private:
    struct Impl;
    Impl *d;
    QString m_error;
};
