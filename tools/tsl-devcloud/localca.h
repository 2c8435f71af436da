#pragma once

#include "certificateauthority.h"

#include <QByteArray>
#include <QString>

// The certification authority of the local cloud, kept in the data directory: ca.crt/ca.key, the
// broker's server certificate (localhost and 127.0.0.1) and the console's client certificate.
// Made on first use and reused afterwards. Gateway certificates are issued on demand.
class LocalCa
{
public:
    // keyPem: unencrypted RSA private key ("BEGIN RSA PRIVATE KEY"); certPem: signed by this CA.
    using Credentials = CertificateAuthority::Credentials;

    explicit LocalCa(const QString &dataDir);
    ~LocalCa();

    // Loads the CA and the two service certificates, making whatever is missing or unusable.
    bool open();
    QString errorString() const { return m_error; }

    QString caCertPath() const;
    QString serverCertPath() const;
    QString serverKeyPath() const;
    QString consoleCertPath() const;
    QString consoleKeyPath() const;

    // A fresh RSA 2048 key and a client certificate for commonName, valid for ten years.
    Credentials issueClient(const QString &commonName);

    LocalCa(const LocalCa &) = delete;
    LocalCa &operator=(const LocalCa &) = delete;

private:
    bool makeCa();
    bool ensureLeaf(const QString &baseName, const QString &commonName, bool server);
    QString path(const QString &name) const;

    QString m_dir;
    QString m_error;
    CertificateAuthority m_ca;
};
