#include "testpki.h"

#include <QFile>

namespace {

constexpr long Days = 30;
const QString Loopback = QStringLiteral("DNS:localhost,IP:127.0.0.1");

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

CertificateAuthority::Leaf serverLeaf(const QString &commonName, const QString &altNames, long days = Days)
{
    return {commonName, CertificateAuthority::Server, CertificateAuthority::Ec, altNames, days};
}

} // namespace

TestPki &TestPki::instance()
{
    static TestPki pki;
    return pki;
}

TestPki::TestPki()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary directory");
        return;
    }
    m_valid = makeCa(m_authority, QStringLiteral("ca"), QStringLiteral("TSL Test CA")) &&
              makeCa(m_otherAuthority, QStringLiteral("otherca"), QStringLiteral("Unrelated Test CA"));
    if (m_valid) {
        m_ca = QSslCertificate(m_authority.certificatePem());
        m_otherCa = QSslCertificate(m_otherAuthority.certificatePem());
        m_valid = !m_ca.isNull() && !m_otherCa.isNull();
    }
}

QString TestPki::caPath() const
{
    return path(QStringLiteral("ca.crt"));
}

QString TestPki::otherCaPath() const
{
    return path(QStringLiteral("otherca.crt"));
}

bool TestPki::makeCa(CertificateAuthority &ca, const QString &name, const QString &commonName)
{
    if (!ca.create(commonName, Days)) {
        m_error = ca.errorString();
        return false;
    }
    if (!writeFile(path(name + ".key"), ca.keyPem()) ||
        !writeFile(path(name + ".crt"), ca.certificatePem())) {
        m_error = QStringLiteral("cannot write the files of %1").arg(name);
        return false;
    }
    return true;
}

TestPki::Identity TestPki::makeLeaf(const QString &name, CertificateAuthority &ca,
                                    const CertificateAuthority::Leaf &leaf)
{
    const CertificateAuthority::Credentials made = ca.issue(leaf);
    if (made.isNull()) {
        m_error = ca.errorString();
        return Identity();
    }
    Identity id;
    id.certPath = path(name + ".crt");
    id.keyPath = path(name + ".key");
    if (!writeFile(id.keyPath, made.keyPem) || !writeFile(id.certPath, made.certPem)) {
        m_error = QStringLiteral("cannot write the files of %1").arg(name);
        return Identity();
    }
    id.certificate = QSslCertificate(made.certPem);
    id.key = QSslKey(made.keyPem, leaf.keyType == CertificateAuthority::Rsa ? QSsl::Rsa : QSsl::Ec);
    if (id.isNull())
        m_error = QStringLiteral("cannot load the certificate or key of %1").arg(name);
    return id;
}

TestPki::Identity TestPki::server(Server which)
{
    if (!m_valid)
        return Identity();
    auto it = m_servers.find(which);
    if (it != m_servers.end())
        return it.value();
    Identity id;
    switch (which) {
    case Localhost:
        id = makeLeaf(QStringLiteral("server"), m_authority,
                      serverLeaf(QStringLiteral("localhost"), Loopback));
        break;
    case WrongHost:
        id = makeLeaf(
            QStringLiteral("server-wronghost"), m_authority,
            serverLeaf(QStringLiteral("wrong.example.com"), QStringLiteral("DNS:wrong.example.com")));
        break;
    case OtherCa:
        id = makeLeaf(QStringLiteral("server-otherca"), m_otherAuthority,
                      serverLeaf(QStringLiteral("localhost"), Loopback));
        break;
    case Expired:
        id = makeLeaf(QStringLiteral("server-expired"), m_authority,
                      serverLeaf(QStringLiteral("localhost"), Loopback, -1));
        break;
    }
    if (!id.isNull())
        m_servers.insert(which, id);
    return id;
}

TestPki::Identity TestPki::client(const QString &commonName)
{
    if (!m_valid)
        return Identity();
    auto it = m_clients.find(commonName);
    if (it != m_clients.end())
        return it.value();
    const QString file = QStringLiteral("client-%1").arg(m_clients.size() + 1);
    const Identity id =
        makeLeaf(file, m_authority,
                 {commonName, CertificateAuthority::Client, CertificateAuthority::Rsa, QString(), Days});
    if (!id.isNull())
        m_clients.insert(commonName, id);
    return id;
}

QSslConfiguration TestPki::clientConfiguration(const QString &commonName)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates({m_ca});
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!commonName.isEmpty()) {
        const Identity id = client(commonName);
        tls.setLocalCertificate(id.certificate);
        tls.setPrivateKey(id.key);
    }
    return tls;
}
