#include "devcloud.h"

#include "appidentity.h"
#include "brokerprocess.h"
#include "fleetstore.h"
#include "httpconnection.h"
#include "httpserver.h"
#include "localca.h"
#include "logcategories.h"
#include "portal.h"
#include "settingskeys.h"
#include "updatefeed.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

DevCloud::DevCloud(const Options &options, QObject *parent)
    : QObject(parent), m_options(options), m_ca(new LocalCa(options.dataDir)),
      m_store(new FleetStore(QDir(options.dataDir).filePath(QStringLiteral("registry.json")))),
      m_broker(new BrokerProcess(this)), m_http(new HttpServer(this)),
      m_registrar(new Registrar(m_store, m_ca, this)), m_portal(new Portal(m_registrar, this)),
      m_feed(new UpdateFeed(this))
{
    connect(m_http, &HttpServer::requestReady, this, &DevCloud::route);
    connect(m_registrar, &Registrar::registered, this, &DevCloud::updateBroker);
    connect(m_broker, &BrokerProcess::died, this, &DevCloud::fatalError);
}

DevCloud::~DevCloud()
{
    stop();
    delete m_registrar;
    m_registrar = nullptr;
    delete m_store;
    delete m_ca;
}

bool DevCloud::start()
{
    QDir dir(m_options.dataDir);
    if (!dir.exists()) {
        if (!QDir().mkpath(m_options.dataDir)) {
            m_error = QStringLiteral("cannot create the data directory %1").arg(m_options.dataDir);
            return false;
        }
        // It holds private keys.
        QFile::setPermissions(m_options.dataDir,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    if (!m_ca->open()) {
        m_error = m_ca->errorString();
        return false;
    }
    if (!m_store->load()) {
        m_error = m_store->errorString();
        return false;
    }
    BrokerProcess::Config broker;
    broker.dataDir = dir.absolutePath();
    broker.port = m_options.mqttPort;
    broker.caPath = m_ca->caCertPath();
    broker.certPath = m_ca->serverCertPath();
    broker.keyPath = m_ca->serverKeyPath();
    broker.refuseClients = m_options.brokerRefuses;
    if (!m_broker->start(broker, m_store->gateways())) {
        m_error = m_broker->errorString();
        return false;
    }
    if (!m_http->listen(m_options.httpPort)) {
        m_error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                      .arg(m_options.httpPort)
                      .arg(m_http->errorString());
        m_broker->stop();
        return false;
    }
    Registrar::Options registrar = m_options.registrar;
    registrar.brokerHost = QStringLiteral("localhost");
    registrar.brokerPort = m_broker->port();
    m_registrar->setOptions(registrar);
    m_feed->setFile(m_options.feedFile);
    m_feed->setReleases(m_options.feedVersions, QStringLiteral("http://127.0.0.1:%1").arg(m_http->port()));
    return true;
}

void DevCloud::stop()
{
    m_broker->stop();
}

QList<QPair<QString, QString>> DevCloud::settings() const
{
    const QString http = QStringLiteral("http://127.0.0.1:%1").arg(m_http->port());
    return {
        {Key::WebRegEndpoint.key(), http + QStringLiteral("/iot/register")},
        {Key::WebCloud.key(), http},
        {Key::CloudHost.key(), QStringLiteral("localhost")},
        {Key::CloudPort.key(), QString::number(m_broker->port())},
        {Key::WebUpdateUrl.key(), http + UpdateFeed::Path},
        {QStringLiteral("TSL_GATE_CA_BUNDLE"), QFileInfo(m_ca->caCertPath()).absoluteFilePath()},
        {QStringLiteral("CONSOLE_CERT"), QFileInfo(m_ca->consoleCertPath()).absoluteFilePath()},
        {QStringLiteral("CONSOLE_KEY"), QFileInfo(m_ca->consoleKeyPath()).absoluteFilePath()},
    };
}

bool DevCloud::configureGateway(QString *fileName) const
{
    // The gateway's settings file follows from its organisation and application names; borrow
    // them for as long as it takes to write it.
    const QString organization = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();
    const QString version = QCoreApplication::applicationVersion();
    setApplicationIdentity();
    bool ok;
    {
        QSettings gateway;
        for (const auto &setting : settings()) {
            if (!setting.first.contains(QLatin1Char('/')))
                continue; // environment, not a setting
            if (setting.first == Key::CloudPort.key())
                gateway.setValue(setting.first, setting.second.toInt());
            else
                gateway.setValue(setting.first, setting.second);
        }
        gateway.sync();
        ok = gateway.status() == QSettings::NoError;
        if (fileName)
            *fileName = gateway.fileName();
    }
    QCoreApplication::setOrganizationName(organization);
    QCoreApplication::setApplicationName(application);
    QCoreApplication::setApplicationVersion(version);
    return ok;
}

void DevCloud::route(HttpConnection *connection)
{
    const QString path = connection->path();
    if (path == QLatin1String("/iot/register")) {
        if (connection->method() == QLatin1String("GET"))
            m_registrar->handle(connection);
        else
            connection->respondError(405);
    } else if (path == QLatin1String("/things") || path == QLatin1String("/things/")) {
        m_portal->handle(connection);
    } else if (path == UpdateFeed::Path) {
        m_feed->handle(connection);
    } else if (path == QLatin1String("/") && connection->method() == QLatin1String("GET")) {
        m_portal->handle(connection);
    } else {
        connection->respondError(404);
    }
}

void DevCloud::updateBroker()
{
    if (!m_broker->updateAcl(m_store->gateways()))
        qCWarning(lcDevCloud, "devcloud: the broker's ACL was not updated: %s",
                  qUtf8Printable(m_broker->errorString()));
}
