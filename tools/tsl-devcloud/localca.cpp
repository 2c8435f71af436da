#include "localca.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr long CaDays = 3650;
constexpr long LeafDays = 3650;
constexpr char CaName[] = "TSL DevCloud Local CA";

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

} // namespace

LocalCa::LocalCa(const QString &dataDir) : m_dir(dataDir) {}

LocalCa::~LocalCa() = default;

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
        if (!m_ca.load(readFile(caCertPath()), readFile(keyPath))) {
            m_error = QStringLiteral("%1 and %2 do not hold a usable CA certificate and key; remove both to "
                                     "start a new CA (gateways registered before must then register again)")
                          .arg(caCertPath(), keyPath);
            return false;
        }
        if (m_ca.hasExpired()) {
            m_error = QStringLiteral("the CA certificate %1 has expired").arg(caCertPath());
            return false;
        }
    }
    return ensureLeaf(QStringLiteral("server"), QStringLiteral("localhost"), true) &&
           ensureLeaf(QStringLiteral("console"), QStringLiteral("console"), false);
}

bool LocalCa::makeCa()
{
    if (!m_ca.create(QString::fromLatin1(CaName), CaDays)) {
        m_error = m_ca.errorString();
        return false;
    }
    // The key first: a certificate without its key would block the next start.
    if (!writeFile(path(QStringLiteral("ca.key")), m_ca.keyPem(), true) ||
        !writeFile(caCertPath(), m_ca.certificatePem(), false)) {
        m_error = QStringLiteral("cannot write the CA files into %1").arg(m_dir);
        return false;
    }
    return true;
}

bool LocalCa::ensureLeaf(const QString &baseName, const QString &commonName, bool server)
{
    const QString certPath = path(baseName + QStringLiteral(".crt"));
    const QString keyPath = path(baseName + QStringLiteral(".key"));
    if (m_ca.hasIssued(readFile(certPath), readFile(keyPath)))
        return true;
    CertificateAuthority::Leaf leaf;
    leaf.commonName = commonName;
    leaf.days = LeafDays;
    if (server) {
        leaf.purpose = CertificateAuthority::Server;
        leaf.keyType = CertificateAuthority::Ec;
        leaf.altNames = QStringLiteral("DNS:localhost,IP:127.0.0.1");
    }
    const Credentials cred = m_ca.issue(leaf);
    if (cred.isNull()) {
        m_error = m_ca.errorString();
        return false;
    }
    if (!writeFile(keyPath, cred.keyPem, true) || !writeFile(certPath, cred.certPem, false)) {
        m_error = QStringLiteral("cannot write %1 and %2").arg(certPath, keyPath);
        return false;
    }
    return true;
}

LocalCa::Credentials LocalCa::issueClient(const QString &commonName)
{
    CertificateAuthority::Leaf leaf;
    leaf.commonName = commonName;
    leaf.days = LeafDays;
    const Credentials cred = m_ca.issue(leaf);
    if (cred.isNull())
        m_error = m_ca.errorString();
    return cred;
}
