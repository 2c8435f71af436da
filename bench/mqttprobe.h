#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

struct mosquitto;

// A bare libmosquitto client over TLS with a client certificate: the measuring end of the
// benchmarks. A subscriber runs libmosquitto's own network thread and timestamps each message
// first thing in the callback; a publisher is driven by the calling thread, so publish() writes to
// the socket before it returns, as the gateway's client does. Call mosquitto_lib_init() once per
// process before using one.
class MqttProbe
{
public:
    struct Tls
    {
        QString caFile;
        QString certFile;
        QString keyFile;
    };
    enum Mode { Subscriber, Publisher };
    using MessageHandler = std::function<void(const QByteArray &topic, const QByteArray &payload, qint64 ns)>;

    MqttProbe(const QString &clientId, Mode mode);
    ~MqttProbe();
    MqttProbe(const MqttProbe &) = delete;
    MqttProbe &operator=(const MqttProbe &) = delete;

    // Set before connecting; called on the network thread.
    void setMessageHandler(MessageHandler handler) { m_handler = std::move(handler); }
    bool connectTo(const QString &host, quint16 port, const Tls &tls, int timeoutMs = 10000);
    // Subscribers only: QoS 0, waits for the acknowledgement.
    bool subscribe(const QString &filter, int timeoutMs = 5000);
    // Publishers only: QoS 0, written before it returns.
    bool publish(const QByteArray &topic, const QByteArray &payload);
    // Publishers only: serves the connection (keep-alive, incoming data) for up to ms.
    void service(int ms);
    QString errorString() const { return m_error; }

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted);
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);
    bool waitFor(const std::atomic<bool> &flag, int timeoutMs);

    Mode m_mode;
    mosquitto *m_mosq = nullptr;
    bool m_threadStarted = false;
    MessageHandler m_handler;
    std::atomic<bool> m_connected{false};
    std::atomic<int> m_connectResult{-1};
    std::atomic<bool> m_subscribed{false};
    QString m_error;
};
