#pragma once

#include "certificateauthority.h"

#include <QHash>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>
#include <QTemporaryDir>

// Test certificates, made at run time (see CertificateAuthority) in a temporary directory that lives
// as long as the test process. One set per process: use TestPki::instance().
//
//   TestPki &pki = TestPki::instance();
//   QVERIFY2(pki.isValid(), qPrintable(pki.errorString()));
//   QSslConfiguration tls = pki.clientConfiguration("gw-01");   // trusts the test CA only
//
// The test CA signs the servers and the clients; the other CA is unrelated to everything. CA and
// server keys are EC (P-256); client keys are RSA 2048, as the gateway's credential store expects.
// All files are unencrypted PEM.
class TestPki
{
public:
    enum Server {
        Localhost, // test CA, DNS:localhost and IP:127.0.0.1
        WrongHost, // test CA, DNS:wrong.example.com only
        OtherCa,   // other CA, DNS:localhost and IP:127.0.0.1
        Expired,   // test CA, DNS:localhost and IP:127.0.0.1, expired yesterday
    };

    struct Identity
    {
        QString certPath;
        QString keyPath;
        QSslCertificate certificate;
        QSslKey key;
        bool isNull() const { return certificate.isNull() || key.isNull(); }
    };

    static TestPki &instance();

    bool isValid() const { return m_valid; }
    QString errorString() const { return m_error; }
    QString directory() const { return m_dir.path(); }

    QString caPath() const;
    QSslCertificate ca() const { return m_ca; }
    QString otherCaPath() const;
    QSslCertificate otherCa() const { return m_otherCa; }

    // Made on first request, then cached. A null identity means making it failed (see errorString()).
    Identity server(Server which);
    Identity client(const QString &commonName);

    // A client configuration for QMqttConnection: the test CA as the only trust anchor and the
    // client identity for commonName (pass an empty name for no client certificate).
    QSslConfiguration clientConfiguration(const QString &commonName);

    TestPki(const TestPki &) = delete;
    TestPki &operator=(const TestPki &) = delete;

private:
    TestPki();
    bool makeCa(CertificateAuthority &ca, const QString &name, const QString &commonName);
    Identity makeLeaf(const QString &name, CertificateAuthority &ca, const CertificateAuthority::Leaf &leaf);
    QString path(const QString &file) const { return m_dir.filePath(file); }

    QTemporaryDir m_dir;
    bool m_valid = false;
    QString m_error;
    QSslCertificate m_ca;
    QSslCertificate m_otherCa;
    CertificateAuthority m_authority;
    CertificateAuthority m_otherAuthority;
    QHash<int, Identity> m_servers;
    QHash<QString, Identity> m_clients;
};
