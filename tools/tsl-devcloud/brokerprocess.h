#pragma once

#include "fleetstore.h"

#include <QObject>
#include <QString>

class MosquittoProcess;

// The dev cloud's broker: mosquitto (see MosquittoProcess) on 127.0.0.1 that wants a client
// certificate of the local CA and takes its common name as the user name, with an ACL file that
// the owner rewrites after every registration. The broker dies with this process.
class BrokerProcess : public QObject
{
    Q_OBJECT
public:
    struct Config
    {
        QString dataDir;
        quint16 port = 0; // 0: any free port
        QString caPath;
        QString certPath;
        QString keyPath;
        bool refuseClients = false; // every client is refused at its CONNECT (a fault for tests)
    };

    explicit BrokerProcess(QObject *parent = nullptr);
    ~BrokerProcess() override;

    // Writes the configuration (and an ACL for the given gateways), starts mosquitto and waits
    // until it listens.
    bool start(const Config &config, const QList<FleetStore::Gateway> &gateways);
    // Rewrites the ACL and has the running broker reload it.
    bool updateAcl(const QList<FleetStore::Gateway> &gateways);
    void stop();

    bool isRunning() const;
    quint16 port() const;
    QString errorString() const { return m_error; }
    QString logPath() const;

    // Console: reads every state, writes every update. Each gateway: writes the states and reads
    // the updates of its own id and of its devices' ids, nothing else.
    static QByteArray aclText(const QList<FleetStore::Gateway> &gateways);

signals:
    // The broker ended without being asked to.
    void died(const QString &reason);

private:
    bool writeAcl(const QList<FleetStore::Gateway> &gateways);
    QString aclPath() const;

    QString m_dataDir;
    MosquittoProcess *m_mosquitto;
    QString m_error;
};
