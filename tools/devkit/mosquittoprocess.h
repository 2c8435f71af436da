#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;

// Debian's mosquitto as a child process with a single TLS listener on 127.0.0.1 that wants a client
// certificate of the given CA. Without a password file the certificate's common name is the user
// name; anonymous clients are refused. The broker dies with this process, however it dies.
//
//   MosquittoProcess::Config config;
//   config.directory = dir;           // mosquitto.conf is written there
//   config.logPath = dir + "/broker.log";
//   config.caPath = ...; config.certPath = ...; config.keyPath = ...;
//   if (!broker.start(config)) qWarning() << broker.errorString();
//
// Every run appends its output to the log.
class MosquittoProcess : public QObject
{
    Q_OBJECT
public:
    struct Config
    {
        QString directory; // holds mosquitto.conf, written at every start
        QString logPath;
        quint16 port = 0; // 0: any free port
        QString caPath;
        QString certPath;
        QString keyPath;
        QString aclPath;      // mosquitto's acl_file; empty for none
        QString passwordPath; // mosquitto's password_file; empty to take the certificate's name
        QString comment;      // first line of mosquitto.conf; empty for none
        QStringList extra;    // more lines of mosquitto.conf, e.g. "clientid_prefixes x"
    };

    explicit MosquittoProcess(QObject *parent = nullptr);
    ~MosquittoProcess() override;

    // Writes the configuration, starts mosquitto and waits until it listens, running the calling
    // thread's event loop meanwhile. False with errorString() on failure.
    bool start(const Config &config);
    // Starts again with the configuration and the port of the previous run.
    bool restart();
    // SIGTERM, then waits for the exit.
    void stop();
    // SIGKILL, as in a crash, then waits for the exit.
    void kill();
    // SIGHUP: the running broker reads its ACL and password files again.
    bool reload();

    bool isRunning() const;
    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }
    QString logPath() const { return m_config.logPath; }
    // The log from byte offset on.
    QString log(qint64 offset = 0) const;

signals:
    // The broker ended without being asked to.
    void died(const QString &reason);

private:
    bool writeConfig();
    bool launch();
    void end(bool force);

    Config m_config;
    quint16 m_port = 0;
    QProcess *m_process = nullptr;
    QString m_error;
    bool m_stopping = false;
};
