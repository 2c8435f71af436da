#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QProcess;

// The built tsl-devcloud (registrar, portal, TLS broker, local CA) as a child process on free
// 127.0.0.1 ports with a temporary data directory.
//
//   DevCloudProcess cloud;
//   QVERIFY2(cloud.start(), qPrintable(cloud.errorString()));
//   cloud.pointGatewayHere();              // settings + TSL_GATE_CA_BUNDLE of this process
//   ... the registrar sends a code ...
//   QVERIFY(cloud.confirm(code));          // as the user does at the portal
//   MosquittoSubscriber states(cloud.consoleArguments(), "things/+/state");
class DevCloudProcess
{
public:
    // extraArguments: e.g. {"--fault", "bad-cred"} or {"--code-timeout", "2"}.
    explicit DevCloudProcess(const QStringList &extraArguments = {});
    ~DevCloudProcess();

    bool start(int timeoutMs = 60000);
    void stop();
    QString errorString() const { return m_error; }
    // Everything the process printed so far (standard output and error), for diagnostics.
    QString transcript() const;

    // One of the printed Name=value settings (Web/RegEndpoint, Cloud/Port, TSL_GATE_CA_BUNDLE, ...).
    QString setting(const QString &name) const { return m_settings.value(name); }
    // Writes the gateway settings into this process's settings and sets TSL_GATE_CA_BUNDLE.
    void pointGatewayHere() const;

    // Confirms a registration code at the portal, as the user does.
    bool confirm(const QString &code);
    // mosquitto_sub / mosquitto_pub options of the console certificate.
    QStringList consoleArguments() const;
    bool publish(const QString &topic, const QByteArray &payload);

    DevCloudProcess(const DevCloudProcess &) = delete;
    DevCloudProcess &operator=(const DevCloudProcess &) = delete;

private:
    QStringList m_arguments;
    QTemporaryDir m_data;
    QProcess *m_process = nullptr;
    QHash<QString, QString> m_settings;
    QString m_error;
};
