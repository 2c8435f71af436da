#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

class QProcess;

// The built tsl-devcloud as a child process: started on free ports with a data directory, its
// printed settings collected until READY, stopped with SIGTERM.
//
//   QTemporaryDir data;
//   DevCloudProcess cloud;
//   QVERIFY2(cloud.start(data.path()), qPrintable(cloud.diagnostics()));
//   cloud.pointGatewayHere();              // settings + TSL_GATE_CA_BUNDLE of this process
//   QVERIFY(cloud.confirm(code));          // as the user does at the portal
//   MosquittoSubscriber states(cloud.consoleArguments(), "things/+/state");
class DevCloudProcess
{
public:
    DevCloudProcess() = default;
    ~DevCloudProcess();

    static QString program();

    bool start(const QString &dataDir, const QStringList &extraArgs = {}, int timeoutMs = 30000);
    // SIGTERM; true when it exited by itself with status 0.
    bool stop(int timeoutMs = 10000);
    bool isRunning() const;
    // SIGKILL: no chance to clean up.
    void kill();
    // Waits for it to end by itself; its exit code, or -1 when it did not end or crashed.
    int waitForExit(int timeoutMs);
    qint64 pid() const;

    QString value(const QString &name) const { return m_settings.value(name); }
    QString registrar() const { return value(QStringLiteral("Web/RegEndpoint")); }
    QString portal() const { return value(QStringLiteral("Web/Cloud")) + QStringLiteral("/things"); }
    quint16 mqttPort() const { return quint16(value(QStringLiteral("Cloud/Port")).toUInt()); }
    QString caPath() const { return value(QStringLiteral("TSL_GATE_CA_BUNDLE")); }
    // Everything it wrote to stderr so far, for failure messages.
    QString diagnostics() const;

    // Writes the gateway settings it printed into this process's settings, and trusts its CA.
    void pointGatewayHere() const;
    // Confirms a registration code at the portal, as the user does.
    bool confirm(const QString &code) const;
    // mosquitto_sub / mosquitto_pub options for the console certificate.
    QStringList consoleArguments() const;
    // Publishes as the console with mosquitto_pub (QoS 0).
    bool publish(const QString &topic, const QByteArray &payload) const;

    DevCloudProcess(const DevCloudProcess &) = delete;
    DevCloudProcess &operator=(const DevCloudProcess &) = delete;

private:
    QProcess *m_process = nullptr;
    QHash<QString, QString> m_settings;
    mutable QString m_stderr;
};
