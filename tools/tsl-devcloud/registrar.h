#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>

class FleetStore;
class HttpConnection;
class LocalCa;
class QTimer;

// The registrar: answers GET /iot/register?doc=... with an event stream. A document that decodes
// gets a "code" event; once the code is confirmed at the portal the stream gets the "result" (new
// identity and credentials for a new gateway, the fleet for a known one), or an "error" when the
// code expires first.
class Registrar : public QObject
{
    Q_OBJECT
public:
    enum class Fault {
        None,
        CloseAfterCode, // the stream ends right after "code"
        Error,          // "error" 403 instead of a code
        BadCred,        // a result whose credentials do not parse
    };

    struct Options
    {
        int codeTimeout = 300;  // seconds
        int autoConfirmMs = -1; // < 0: codes wait for the portal
        Fault fault = Fault::None;
        QString brokerHost = QStringLiteral("localhost");
        quint16 brokerPort = 0;
    };

    Registrar(FleetStore *store, LocalCa *ca, QObject *parent = nullptr);
    ~Registrar() override;

    void setOptions(const Options &options) { m_options = options; }
    void handle(HttpConnection *connection);
    // Confirms a code shown to a waiting gateway; false when no stream waits for this code.
    bool confirm(const QString &code);
    int pendingCount() const { return m_sessions.size(); }

    static QByteArray event(const QString &name, const QJsonObject &data);

signals:
    // The registry changed (new gateway or new devices), before the result is sent.
    void registered(const QString &gatewayId);

private:
    struct Session
    {
        QPointer<HttpConnection> connection;
        QJsonObject doc;
        QTimer *expiry = nullptr;
        QTimer *autoConfirm = nullptr;
    };

    // Empty when the document is acceptable, else the reason.
    QString checkDocument(const QJsonObject &doc) const;
    QString newCode() const;
    void endSession(const QString &code);
    void fail(HttpConnection *connection, int code, const QString &message);
    QJsonObject resultFor(const QJsonObject &doc, int *errorCode, QString *error);

    FleetStore *m_store;
    LocalCa *m_ca;
    Options m_options;
    QHash<QString, Session *> m_sessions;
};
