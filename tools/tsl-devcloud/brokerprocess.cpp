#include "brokerprocess.h"

#include "mosquittoprocess.h"

#include <QDir>
#include <QSaveFile>

BrokerProcess::BrokerProcess(QObject *parent) : QObject(parent), m_mosquitto(new MosquittoProcess(this))
{
    connect(m_mosquitto, &MosquittoProcess::died, this, &BrokerProcess::died);
}

BrokerProcess::~BrokerProcess()
{
    stop();
}

QString BrokerProcess::logPath() const
{
    return QDir(m_dataDir).filePath(QStringLiteral("broker.log"));
}

QString BrokerProcess::aclPath() const
{
    return QDir(m_dataDir).filePath(QStringLiteral("broker.acl"));
}

quint16 BrokerProcess::port() const
{
    return m_mosquitto->port();
}

bool BrokerProcess::isRunning() const
{
    return m_mosquitto->isRunning();
}

QByteArray BrokerProcess::aclText(const QList<FleetStore::Gateway> &gateways)
{
    QByteArray acl = "# Written by tsl-devcloud after every registration; changes here are lost.\n"
                     "user console\n"
                     "topic read things/+/state\n"
                     "topic write things/+/update\n";
    for (const FleetStore::Gateway &gw : gateways) {
        acl += "\nuser " + gw.id.toUtf8() + '\n';
        QStringList ids{gw.id};
        for (const FleetStore::Device &d : gw.devices)
            ids << d.id;
        for (const QString &id : qAsConst(ids)) {
            acl += "topic write things/" + id.toUtf8() + "/state\n";
            acl += "topic read things/" + id.toUtf8() + "/update\n";
        }
    }
    return acl;
}

bool BrokerProcess::writeAcl(const QList<FleetStore::Gateway> &gateways)
{
    const QByteArray acl = aclText(gateways);
    QSaveFile f(aclPath());
    if (f.open(QIODevice::WriteOnly) && f.write(acl) == acl.size() && f.commit())
        return true;
    m_error = QStringLiteral("cannot write the broker's ACL file");
    return false;
}

bool BrokerProcess::start(const Config &config, const QList<FleetStore::Gateway> &gateways)
{
    m_dataDir = config.dataDir;
    if (m_dataDir.contains(QLatin1Char('\n'))) {
        m_error = QStringLiteral("the data directory's name must not contain a line break");
        return false;
    }
    if (!writeAcl(gateways))
        return false;
    MosquittoProcess::Config mosquitto;
    mosquitto.directory = m_dataDir;
    mosquitto.logPath = logPath();
    mosquitto.port = config.port;
    mosquitto.caPath = config.caPath;
    mosquitto.certPath = config.certPath;
    mosquitto.keyPath = config.keyPath;
    mosquitto.aclPath = aclPath();
    // Only client ids with this prefix may connect, and none has it: mosquitto answers "not authorized".
    if (config.refuseClients)
        mosquitto.extra << QStringLiteral("clientid_prefixes tsl-devcloud-refuses-everyone-");
    mosquitto.comment = QStringLiteral("Written by tsl-devcloud at every start; changes here are lost.");
    if (m_mosquitto->start(mosquitto))
        return true;
    m_error = m_mosquitto->errorString();
    return false;
}

bool BrokerProcess::updateAcl(const QList<FleetStore::Gateway> &gateways)
{
    if (!writeAcl(gateways))
        return false;
    if (m_mosquitto->reload())
        return true;
    m_error = m_mosquitto->errorString();
    return false;
}

void BrokerProcess::stop()
{
    m_mosquitto->stop();
}
