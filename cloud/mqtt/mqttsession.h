#pragma once

#include "mqttmessage.h"
#include "mqtttlscontext.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QObject>
#include <QSslConfiguration>

struct mosquitto;
struct mosquitto_message;
class QSocketNotifier;
class QTimer;

Q_DECLARE_LOGGING_CATEGORY(lcMqtt)

// One connection attempt to one broker address: a libmosquitto instance whose socket is served by
// socket notifiers of the owning thread (no library thread). libmosquitto's callbacks run inside our
// own calls into it; they only copy their data and post it, so every signal below comes from the
// event loop, tagged with the generation given at construction. After shutdown() nothing is
// emitted any more. A session is never reused: the owner makes a new one for every attempt.
class MqttSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int NoError = -1;

    struct Options
    {
        QString peerName; // the name the broker's certificate must carry (also the SNI)
        QHostAddress address;
        quint16 port = 0;
        int keepAlive = 60;
        QString clientId;
        QString username;
        bool cleanSession = true;
        QSslConfiguration tls;
        bool ignoreSelfSigned = false;
    };

    MqttSession(quint64 generation, QObject *parent);
    ~MqttSession() override;

    quint64 generation() const { return m_generation; }
    // The connection ended (finished() may still be on its way) or was shut down.
    bool isOver() const { return m_ended || m_broken || !m_mosq; }

    // Starts connecting; success or failure is reported later by connack() or finished().
    void start(const Options &options);
    // Closes the socket at once without DISCONNECT and silences the session. Never blocks.
    void shutdown();
    // Sends DISCONNECT. Returns true when the socket is already closed, else finished() follows
    // once the packet is out.
    bool sendDisconnect();

    // Packet identifiers, or -1 when the request could not be queued.
    int subscribe(const QString &topic, int qos);
    int unsubscribe(const QString &topic);
    int publish(const QString &topic, const QByteArray &payload, int qos = 0);

signals:
    void connack(quint64 generation, int returnCode);
    // The attempt failed or the connection ended; errorCode is a QMqttConnection::ClientError, or
    // NoError for an orderly close or a refusal that connack() already reported. reason says why in
    // the TLS layer's words when it knows (empty otherwise).
    void finished(quint64 generation, int errorCode, const QString &reason);
    void published(quint64 generation, int mid);
    void subscribed(quint64 generation, int mid, int grantedQos);
    void unsubscribed(quint64 generation, int mid);
    void received(quint64 generation, const MqttMessage &message);

private:
    static void onConnectCallback(mosquitto *, void *self, int rc);
    static void onDisconnectCallback(mosquitto *, void *self, int rc);
    static void onPublishCallback(mosquitto *, void *self, int mid);
    static void onMessageCallback(mosquitto *, void *self, const mosquitto_message *msg);
    static void onSubscribeCallback(mosquitto *, void *self, int mid, int count, const int *granted);
    static void onUnsubscribeCallback(mosquitto *, void *self, int mid);

    template <typename F> void post(F &&emitter);
    template <typename F> int loopCall(F &&call);
    int createInstance(const Options &options, QString *why);
    void fail(int errorCode, const QString &reason = QString());
    void finish(int mosqRc, int savedErrno);
    void armNotifiers();
    void disarmNotifiers();
    void updateWriteInterest();
    bool inHandshake() const;
    bool handshakeSocketDead(int *err) const;
    // False when the session is over, or its socket died in the handshake (the session is then
    // finished here).
    bool socketAlive();
    void socketReadable();
    void socketWritable();
    void keepAliveTick();
    void afterLoopCall(int rc, int savedErrno);

    const quint64 m_generation;
    mosquitto *m_mosq = nullptr;
    TlsObservations m_tls;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_miscTimer = nullptr;
    int m_fd = -1;
    bool m_accepted = false;    // CONNACK 0 received
    bool m_refused = false;     // CONNACK with a refusal received
    bool m_ended = false;       // finished() has been posted
    bool m_endedInCall = false; // libmosquitto reported the end during the current loop call
    bool m_silenced = false;    // shutdown() was called
    bool m_broken = false;      // a publish failed on the connection itself; its end is on its way
};
