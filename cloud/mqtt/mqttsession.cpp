#include "mqttsession.h"

#include "mqtterrors.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <mosquitto.h>
#include <mutex>
#include <openssl/ssl.h>
#include <sys/socket.h>

Q_LOGGING_CATEGORY(lcMqtt, "tsl.mqtt", QtInfoMsg)

namespace {

// libmosquitto's global set-up is not thread-safe; do it once for the whole process.
void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

constexpr int KeepAliveTickMs = 1000;

} // namespace

MqttSession::MqttSession(quint64 generation, QObject *parent) : QObject(parent), m_generation(generation)
{
    m_miscTimer = new QTimer(this);
    m_miscTimer->setInterval(KeepAliveTickMs);
    connect(m_miscTimer, &QTimer::timeout, this, &MqttSession::keepAliveTick);
}

MqttSession::~MqttSession()
{
    shutdown();
}

// ----- callbacks: called by libmosquitto inside our loop calls, on this thread

void MqttSession::onConnectCallback(mosquitto *, void *self, int rc)
{
    auto *s = static_cast<MqttSession *>(self);
    (rc == 0 ? s->m_accepted : s->m_refused) = true;
    s->post([s, rc] { emit s->connack(s->m_generation, rc); });
}

void MqttSession::onDisconnectCallback(mosquitto *, void *self, int rc)
{
    const int savedErrno = errno;
    auto *s = static_cast<MqttSession *>(self);
    s->m_endedInCall = true;
    s->finish(rc, savedErrno);
}

void MqttSession::onPublishCallback(mosquitto *, void *self, int mid)
{
    auto *s = static_cast<MqttSession *>(self);
    s->post([s, mid] { emit s->published(s->m_generation, mid); });
}

void MqttSession::onMessageCallback(mosquitto *, void *self, const mosquitto_message *msg)
{
    auto *s = static_cast<MqttSession *>(self);
    MqttMessage message;
    message.topic = QString::fromUtf8(msg->topic);
    message.payload = QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen);
    message.id = quint16(msg->mid);
    s->post([s, message] { emit s->received(s->m_generation, message); });
}

void MqttSession::onSubscribeCallback(mosquitto *, void *self, int mid, int count, const int *granted)
{
    auto *s = static_cast<MqttSession *>(self);
    const int qos = count > 0 ? granted[0] : 0x80;
    s->post([s, mid, qos] { emit s->subscribed(s->m_generation, mid, qos); });
}

void MqttSession::onUnsubscribeCallback(mosquitto *, void *self, int mid)
{
    auto *s = static_cast<MqttSession *>(self);
    s->post([s, mid] { emit s->unsubscribed(s->m_generation, mid); });
}

template <typename F> void MqttSession::post(F &&emitter)
{
    QMetaObject::invokeMethod(
        this,
        [this, emitter = std::forward<F>(emitter)] {
            if (!m_silenced)
                emitter();
        },
        Qt::QueuedConnection);
}

template <typename F> int MqttSession::loopCall(F &&call)
{
    m_endedInCall = false;
    errno = 0;
    const int rc = call();
    const int savedErrno = errno;
    afterLoopCall(rc, savedErrno);
    return rc;
}

// ----- life cycle

int MqttSession::createInstance(const Options &options, QString *why)
{
    initLibrary();
    const QByteArray id = options.clientId.toUtf8();
    errno = 0;
    m_mosq = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), options.cleanSession, this);
    if (!m_mosq) {
        const bool noMemory = errno == ENOMEM;
        *why = noMemory ? QStringLiteral("out of memory")
                        : QStringLiteral("a client id is required without a clean session");
        return noMemory ? QMqttConnection::SocketResourceError : QMqttConnection::SocketOperationError;
    }
    // Not threaded: libmosquitto then writes a packet at once inside mosquitto_publish(). It also
    // writes one byte per queued packet to a socket pair of its own (a wake-up for its own thread,
    // which this session never runs); threaded mode does not spare that write, it only defers the
    // packet's (2.0.11, seen with strace), and no option turns it off.
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // States are small and go out one by one: never hold one back waiting for the broker's
    // delayed acknowledgement of the previous (Nagle), which costs up to 40 ms in bursts.
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    const QByteArray user = options.username.toUtf8();
    if (!user.isEmpty())
        mosquitto_username_pw_set(m_mosq, user.constData(), nullptr);

    SSL_CTX *ctx = buildMqttSslContext(options.tls, options.peerName, options.ignoreSelfSigned, &m_tls, why);
    if (!ctx)
        return QMqttConnection::SocketSslInvalidUserDataError;
    // Without this libmosquitto insists on CA files of its own; our context already has everything.
    mosquitto_int_option(m_mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
    mosquitto_void_option(m_mosq, MOSQ_OPT_SSL_CTX, ctx); // takes its own reference
    SSL_CTX_free(ctx);

    mosquitto_connect_callback_set(m_mosq, onConnectCallback);
    mosquitto_disconnect_callback_set(m_mosq, onDisconnectCallback);
    mosquitto_publish_callback_set(m_mosq, onPublishCallback);
    mosquitto_message_callback_set(m_mosq, onMessageCallback);
    mosquitto_subscribe_callback_set(m_mosq, onSubscribeCallback);
    mosquitto_unsubscribe_callback_set(m_mosq, onUnsubscribeCallback);
    return NoError;
}

void MqttSession::start(const Options &options)
{
    QString why;
    const int failure = createInstance(options, &why);
    if (failure != NoError) {
        fail(failure, why);
        return;
    }
    // The address is already resolved, so libmosquitto's own (blocking) name lookup is a no-op.
    const QByteArray address = options.address.toString().toLatin1();
    errno = 0;
    const int rc = mosquitto_connect_async(m_mosq, address.constData(), options.port, options.keepAlive);
    const int savedErrno = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        finish(rc, savedErrno);
        return;
    }
    armNotifiers();
    m_miscTimer->start();
}

void MqttSession::shutdown()
{
    m_silenced = true;
    m_miscTimer->stop();
    disarmNotifiers();
    if (m_mosq) {
        mosquitto_destroy(m_mosq); // closes the socket; no DISCONNECT, no callbacks
        m_mosq = nullptr;
    }
}

bool MqttSession::sendDisconnect()
{
    if (!m_mosq || m_fd < 0 || m_ended)
        return true;
    const int rc = loopCall([this] { return mosquitto_disconnect(m_mosq); });
    return rc != MOSQ_ERR_SUCCESS || !m_mosq || mosquitto_socket(m_mosq) < 0;
}

void MqttSession::fail(int errorCode, const QString &reason)
{
    if (m_ended)
        return;
    m_ended = true;
    m_miscTimer->stop();
    disarmNotifiers();
    post([this, errorCode, reason] { emit finished(m_generation, errorCode, reason); });
}

void MqttSession::finish(int mosqRc, int savedErrno)
{
    if (m_ended)
        return;
    int code = NoError;
    QString reason;
    if (mosqRc != MOSQ_ERR_SUCCESS && !m_refused) {
        code = connectionError(mosqRc, savedErrno, m_tls, m_accepted);
        reason = m_tls.reason();
        // Under TLS 1.3 a broker refuses the client's certificate only after the client has finished
        // its part of the handshake; when the reset overtakes the alert, say at least what happened.
        if (reason.isEmpty() && code == QMqttConnection::SocketSslHandshakeFailedError)
            reason = QStringLiteral("the broker closed the connection during the TLS handshake");
    }
    qCDebug(lcMqtt) << "connection ended:" << describeMosquittoResult(mosqRc, savedErrno) << "verify error"
                    << m_tls.verifyError << "alerts" << m_tls.alertSent << m_tls.alertReceived << "-> code"
                    << code << reason;
    fail(code, reason);
}

// ----- operations

int MqttSession::subscribe(const QString &topic, int qos)
{
    if (!m_mosq || m_ended)
        return -1;
    const QByteArray t = topic.toUtf8();
    int mid = 0;
    const int rc = loopCall([&] { return mosquitto_subscribe(m_mosq, &mid, t.constData(), qos); });
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

int MqttSession::unsubscribe(const QString &topic)
{
    if (!m_mosq || m_ended)
        return -1;
    const QByteArray t = topic.toUtf8();
    int mid = 0;
    const int rc = loopCall([&] { return mosquitto_unsubscribe(m_mosq, &mid, t.constData()); });
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

int MqttSession::publish(const QString &topic, const QByteArray &payload, int qos)
{
    if (!m_mosq || m_ended)
        return -1;
    const QByteArray t = topic.toUtf8();
    int mid = 0;
    const int rc = loopCall([&] {
        return mosquitto_publish(m_mosq, &mid, t.constData(), payload.size(), payload.constData(), qos,
                                 false);
    });
    if (rc == MOSQ_ERR_SUCCESS)
        return mid;
    // Anything but a refusal of the message itself is the connection failing (a write to a broker
    // that is gone): nothing more goes out on it; its end follows from the socket.
    const bool refusedMessage = rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_PAYLOAD_SIZE ||
                                rc == MOSQ_ERR_MALFORMED_UTF8 || rc == MOSQ_ERR_OVERSIZE_PACKET ||
                                rc == MOSQ_ERR_QOS_NOT_SUPPORTED || rc == MOSQ_ERR_NOMEM;
    if (!refusedMessage)
        m_broken = true;
    return -1;
}

// ----- socket integration

void MqttSession::armNotifiers()
{
    disarmNotifiers();
    m_fd = mosquitto_socket(m_mosq);
    if (m_fd < 0)
        return;
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &MqttSession::socketReadable);
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &MqttSession::socketWritable);
    updateWriteInterest();
}

void MqttSession::disarmNotifiers()
{
    // Unregister at once: libmosquitto may have closed the descriptor and its number can be reused.
    for (QSocketNotifier **n : {&m_readNotifier, &m_writeNotifier}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    m_fd = -1;
}

void MqttSession::updateWriteInterest()
{
    if (m_writeNotifier && m_mosq)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
}

bool MqttSession::inHandshake() const
{
    auto *ssl = static_cast<SSL *>(mosquitto_ssl_get(m_mosq));
    return ssl && SSL_in_init(ssl);
}

// libmosquitto ignores a socket error during the TLS handshake (it just tries again), which leaves
// a dead, always-ready socket behind: a refused or reset TCP connect, or a peer that closed. Catch
// those here instead of spinning until the keep-alive runs out.
bool MqttSession::handshakeSocketDead(int *err) const
{
    if (!inHandshake())
        return false;
    int soError = 0;
    socklen_t len = sizeof soError;
    if (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError != 0) {
        *err = soError;
        return true;
    }
    sockaddr_storage peer{};
    socklen_t peerLen = sizeof peer;
    if (getpeername(m_fd, reinterpret_cast<sockaddr *>(&peer), &peerLen) != 0 && errno == ENOTCONN) {
        *err = ENOTCONN;
        return true;
    }
    char byte;
    if (recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
        *err = ECONNRESET; // orderly close by the peer in the middle of the handshake
        return true;
    }
    return false;
}

bool MqttSession::socketAlive()
{
    if (!m_mosq || m_ended)
        return false;
    int err = 0;
    if (handshakeSocketDead(&err)) {
        finish(MOSQ_ERR_ERRNO, err);
        return false;
    }
    return true;
}

void MqttSession::socketReadable()
{
    if (!socketAlive())
        return;
    loopCall([this] { return mosquitto_loop_read(m_mosq, 1); });
}

void MqttSession::socketWritable()
{
    if (!socketAlive())
        return;
    // While the handshake runs, loop_write() would do nothing; loop_read() continues the handshake.
    if (inHandshake())
        loopCall([this] { return mosquitto_loop_read(m_mosq, 1); });
    else
        loopCall([this] { return mosquitto_loop_write(m_mosq, 1); });
}

void MqttSession::keepAliveTick()
{
    if (!m_mosq || m_ended || m_fd < 0)
        return;
    loopCall([this] { return mosquitto_loop_misc(m_mosq); });
}

void MqttSession::afterLoopCall(int rc, int savedErrno)
{
    if (!m_mosq)
        return;
    const int fd = mosquitto_socket(m_mosq);
    if (fd != m_fd)
        disarmNotifiers();
    if (fd < 0) {
        m_miscTimer->stop();
        // A failed TLS handshake closes the socket without any callback.
        if (!m_ended && !m_endedInCall)
            finish(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, savedErrno);
        return;
    }
    if (m_ended)
        return;
    if (!m_readNotifier)
        armNotifiers();
    else
        updateWriteInterest();
}
