#pragma once

#include "mosquittoprocess.h"
#include "testpki.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Debian's mosquitto (MosquittoProcess) on a free 127.0.0.1 port with a single TLS listener that requires a
// client certificate signed by the test CA (TestPki). The certificate's common name is the user name;
// anonymous clients are refused.
//
//   MosquittoBroker broker;
//   QVERIFY2(broker.start(), qPrintable(broker.errorString()));
//   connection.setHostName(broker.host()); connection.setPort(broker.port());
//   ...
//   broker.kill();              // SIGKILL, as in a crash
//   QVERIFY(broker.restart());  // same port
//
// publish() and MosquittoSubscriber (mosquittosubscriber.h) talk to it with the command-line clients
// under the certificate name clientName(). The log (see logPath()) keeps all runs of the broker.
class MosquittoBroker
{
public:
    struct Options
    {
        TestPki::Server certificate = TestPki::Localhost;
        // Contents of an ACL file (mosquitto's acl_file syntax); empty for none.
        QString acl;
        // Authenticate by password instead of by certificate name; clients without a matching
        // user name and password are refused with CONNACK 5 (not authorized).
        bool requirePassword = false;
    };

    MosquittoBroker();
    explicit MosquittoBroker(const Options &options);
    ~MosquittoBroker();

    // Starts on a free port and waits until the broker listens. False with errorString() on failure.
    bool start();
    // Starts again on the port of the previous run.
    bool restart();
    // SIGTERM, then waits for the exit.
    void stop();
    // SIGKILL, then waits for the exit.
    void kill();
    bool isRunning() const { return m_process.isRunning(); }

    QString host() const { return QStringLiteral("localhost"); }
    quint16 port() const { return m_process.port(); }
    QString errorString() const { return m_error; }
    QString logPath() const;
    QString log() const;

    // Certificate name of the command-line clients (the user name for ACLs).
    static QString clientName() { return QStringLiteral("fixture-cli"); }
    // Arguments that connect a mosquitto_pub/mosquitto_sub to this broker with a client certificate.
    QStringList clientArguments() const;
    // Publishes with mosquitto_pub (QoS 0) and waits for it to finish.
    bool publish(const QString &topic, const QByteArray &payload);

    MosquittoBroker(const MosquittoBroker &) = delete;
    MosquittoBroker &operator=(const MosquittoBroker &) = delete;

private:
    bool configure(MosquittoProcess::Config *config);

    Options m_options;
    QTemporaryDir m_dir;
    MosquittoProcess m_process;
    QString m_error;
};
