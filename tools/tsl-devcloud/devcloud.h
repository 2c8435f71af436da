#pragma once

#include "registrar.h"

#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class BrokerProcess;
class FleetStore;
class HttpConnection;
class HttpServer;
class LocalCa;
class Portal;
class UpdateFeed;

// The local cloud: CA, registry, broker, registrar and portal, all kept in one data directory.
class DevCloud : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString dataDir;
        quint16 mqttPort = 0;
        quint16 httpPort = 0;
        Registrar::Options registrar;
        bool brokerRefuses = false; // the broker refuses every client (a fault for tests)
        // The update feed: a file served as it is, else these versions (an empty feed without either).
        QString feedFile;
        QStringList feedVersions;
    };

    explicit DevCloud(const Options &options, QObject *parent = nullptr);
    ~DevCloud() override;

    bool start();
    void stop();
    QString errorString() const { return m_error; }

    // What a gateway needs, as name/value pairs: its settings keys first (Web/ and Cloud/), then the
    // environment for its CA bundle and the console's certificate files.
    QList<QPair<QString, QString>> settings() const;
    // Writes the settings keys into the current user's gateway settings file; false on failure.
    bool configureGateway(QString *fileName) const;

signals:
    // Something the cloud cannot go on without broke (the broker died).
    void fatalError(const QString &message);

private:
    void route(HttpConnection *connection);
    void updateBroker();

    Options m_options;
    QString m_error;
    LocalCa *m_ca;
    FleetStore *m_store;
    BrokerProcess *m_broker;
    HttpServer *m_http;
    Registrar *m_registrar;
    Portal *m_portal;
    UpdateFeed *m_feed;
};
