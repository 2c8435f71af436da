#include "testpki.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList keyArgs(bool rsa)
{
    if (rsa)
        return {QStringLiteral("-newkey"), QStringLiteral("rsa:2048")};
    return {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1")};
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
    m_valid = makeCa(QStringLiteral("ca"), QStringLiteral("TSL Test CA")) &&
              makeCa(QStringLiteral("otherca"), QStringLiteral("Unrelated Test CA"));
    if (m_valid) {
        m_ca = QSslCertificate(readAll(caPath()));
        m_otherCa = QSslCertificate(readAll(otherCaPath()));
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

bool TestPki::openssl(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1 failed: %2")
                      .arg(args.value(0), QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}

bool TestPki::makeCa(const QString &name, const QString &commonName)
{
    return openssl(
        QStringList{QStringLiteral("req"), QStringLiteral("-x509")}
        << keyArgs(false)
        << QStringList{QStringLiteral("-nodes"), QStringLiteral("-keyout"), path(name + ".key"),
                       QStringLiteral("-out"), path(name + ".crt"), QStringLiteral("-days"),
                       QStringLiteral("30"), QStringLiteral("-subj"), "/CN=" + commonName,
                       QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                       QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")});
}

TestPki::Identity TestPki::makeLeaf(const QString &name, const QString &ca, const QString &commonName,
                                    const QString &san, const QString &usage, bool rsa, int days)
{
    Identity id;
    id.certPath = path(name + ".crt");
    id.keyPath = path(name + ".key");
    const QString csr = path(name + ".csr");
    const QString ext = path(name + ".ext");
    QFile extFile(ext);
    if (!extFile.open(QIODevice::WriteOnly))
        return Identity();
    QByteArray extensions = "basicConstraints=CA:FALSE\n";
    extensions +=
        rsa ? "keyUsage=critical,digitalSignature,keyEncipherment\n" : "keyUsage=critical,digitalSignature\n";
    extensions += "extendedKeyUsage=" + usage.toLatin1() + "\n";
    if (!san.isEmpty())
        extensions += "subjectAltName=" + san.toLatin1() + "\n";
    extFile.write(extensions);
    extFile.close();

    const QString serial =
        QStringLiteral("0x%1").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    const bool ok =
        openssl(QStringList{QStringLiteral("req"), QStringLiteral("-new")}
                << keyArgs(rsa)
                << QStringList{QStringLiteral("-nodes"), QStringLiteral("-keyout"), id.keyPath,
                               QStringLiteral("-out"), csr, QStringLiteral("-subj"), "/CN=" + commonName}) &&
        openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), csr,
                 QStringLiteral("-CA"), path(ca + ".crt"), QStringLiteral("-CAkey"), path(ca + ".key"),
                 QStringLiteral("-set_serial"), serial, QStringLiteral("-out"), id.certPath,
                 // a negative count ends the validity that many days before now
                 QStringLiteral("-days"), QString::number(days), QStringLiteral("-sha256"),
                 QStringLiteral("-extfile"), ext});
    QFile::remove(csr);
    QFile::remove(ext);
    if (!ok)
        return Identity();
    id.certificate = QSslCertificate(readAll(id.certPath));
    id.key = QSslKey(readAll(id.keyPath), rsa ? QSsl::Rsa : QSsl::Ec);
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
    const QString good = QStringLiteral("DNS:localhost,IP:127.0.0.1");
    Identity id;
    switch (which) {
    case Localhost:
        id = makeLeaf(QStringLiteral("server"), QStringLiteral("ca"), QStringLiteral("localhost"), good,
                      QStringLiteral("serverAuth"), false);
        break;
    case WrongHost:
        id = makeLeaf(QStringLiteral("server-wronghost"), QStringLiteral("ca"),
                      QStringLiteral("wrong.example.com"), QStringLiteral("DNS:wrong.example.com"),
                      QStringLiteral("serverAuth"), false);
        break;
    case OtherCa:
        id = makeLeaf(QStringLiteral("server-otherca"), QStringLiteral("otherca"),
                      QStringLiteral("localhost"), good, QStringLiteral("serverAuth"), false);
        break;
    case Expired:
        id = makeLeaf(QStringLiteral("server-expired"), QStringLiteral("ca"), QStringLiteral("localhost"),
                      good, QStringLiteral("serverAuth"), false, -1);
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
        makeLeaf(file, QStringLiteral("ca"), commonName, QString(), QStringLiteral("clientAuth"), true);
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
