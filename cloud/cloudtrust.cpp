#include "cloudtrust.h"

#include "deployment.h"
#include "qcredentialstore.h"

#include <QCoreApplication>
#include <QFile>
#include <QSslKey>

#include <atomic>

namespace {
// Environment override of the compiled trust anchors, for private deployments and test brokers.
constexpr char CaBundleVariable[] = "TSL_GATE_CA_BUNDLE";
} // namespace

// The CA bundle is compiled into the core library; a static library needs its resources pulled in.
static void initCaBundleResource()
{
    Q_INIT_RESOURCE(tslcacerts);
}

QList<QSslCertificate> CloudTrust::anchors()
{
    static std::atomic_bool announced{false};
    const QString overridePath = qEnvironmentVariable(CaBundleVariable);
    if (!overridePath.isEmpty()) {
        QFile file(overridePath);
        const QList<QSslCertificate> certs = file.open(QIODevice::ReadOnly)
                                                 ? QSslCertificate::fromData(file.readAll(), QSsl::Pem)
                                                 : QList<QSslCertificate>();
        if (!announced.exchange(true)) {
            if (certs.isEmpty())
                qCritical("%s=%s holds no CA certificate: no broker will be trusted", CaBundleVariable,
                          qUtf8Printable(overridePath));
            else
                qInfo("Trusting the CA certificates of %s=%s instead of the built-in bundle",
                      CaBundleVariable, qUtf8Printable(overridePath));
        }
        return certs;
    }
    initCaBundleResource();
    QFile bundle(QStringLiteral(":/cacerts/%1.ca").arg(QLatin1String(Deployment::ApiHost)));
    if (!bundle.open(QIODevice::ReadOnly))
        return {};
    return QSslCertificate::fromData(bundle.readAll(), QSsl::Pem);
}

QSslConfiguration CloudTrust::clientConfiguration(QString *missing)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    tls.setCaCertificates(anchors());
    const QSslKey key = QCredentialStore::storedKey();
    if (key.isNull()) {
        *missing = QCoreApplication::translate("CloudTrust", "Key is missing / invalid");
        return tls;
    }
    const QSslCertificate certificate = QCredentialStore::storedCertificate();
    if (certificate.isNull()) {
        *missing = QCoreApplication::translate("CloudTrust", "Certificate is missing / invalid");
        return tls;
    }
    tls.setLocalCertificate(certificate);
    tls.setPrivateKey(key);
    missing->clear();
    return tls;
}
