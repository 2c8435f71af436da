#include "mqtterrors.h"

#include "mqtttlscontext.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <netdb.h>

namespace {

using E = QMqttConnection;

QMqttConnection::ClientError errnoError(int err, bool accepted)
{
    switch (err) {
    case ECONNREFUSED:
    case ENOTCONN: // the TCP connect failed and its error was already consumed
        return E::SocketConnectionRefusedError;
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED:
    case EPROTO: // any fatal TLS error while reading or writing
        return accepted ? E::SocketRemoteHostClosedError : E::SocketSslHandshakeFailedError;
    case ETIMEDOUT:
        return E::SocketTimeoutError;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
        return E::SocketNetworkError;
    case EACCES:
    case EPERM:
        return E::SocketAccessError;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return E::SocketResourceError;
    case EADDRINUSE:
        return E::SocketAddressInUseError;
    case EADDRNOTAVAIL:
        return E::SocketAddressNotAvailableError;
    default:
        return E::UnknownError;
    }
}

} // namespace

QMqttConnection::ClientError connackError(int returnCode)
{
    if (returnCode < 1 || returnCode > 5)
        return E::UnknownError;
    return QMqttConnection::ClientError(E::MqttUnacceptableProtocolVersionError + returnCode - 1);
}

QMqttConnection::ClientError connectionError(int mosqRc, int savedErrno, const TlsObservations &tls,
                                             bool accepted)
{
    if (!accepted && tls.rejected())
        return E::SocketSslHandshakeFailedError;

    switch (mosqRc) {
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_LOOKUP:
        return E::SocketHostNotFoundError;
    case MOSQ_ERR_CONN_LOST:
        return E::SocketRemoteHostClosedError;
    case MOSQ_ERR_KEEPALIVE:
        return E::SocketTimeoutError;
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        if (savedErrno == ECONNREFUSED)
            return E::SocketConnectionRefusedError;
        return accepted ? E::SocketSslInternalError : E::SocketSslHandshakeFailedError;
    case MOSQ_ERR_ERRNO:
        return errnoError(savedErrno, accepted);
    case MOSQ_ERR_NOMEM:
        return E::SocketResourceError;
    case MOSQ_ERR_INVAL:
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_NOT_SUPPORTED:
        return E::SocketOperationError;
    default: // protocol violations and everything else
        return E::UnknownError;
    }
}

QString describeMosquittoResult(int mosqRc, int savedErrno)
{
    // For MOSQ_ERR_ERRNO libmosquitto's text is that of the current errno, not of the saved one.
    const QString what = mosqRc == MOSQ_ERR_ERRNO ? QStringLiteral("system error")
                                                  : QString::fromLatin1(mosquitto_strerror(mosqRc));
    QString text = QStringLiteral("%1 (%2)").arg(what).arg(mosqRc);
    if (mosqRc == MOSQ_ERR_EAI)
        text += QStringLiteral(", %1").arg(QString::fromLatin1(gai_strerror(savedErrno)));
    else if (savedErrno)
        text +=
            QStringLiteral(", errno %1 (%2)").arg(savedErrno).arg(QString::fromLatin1(strerror(savedErrno)));
    return text;
}

QString clientErrorText(int code)
{
    static const char *const texts[] = {
        QT_TRANSLATE_NOOP("CalvexCloudClient", "unknown"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "connection refused"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "connection closed by remote host"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "host not found"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "access error"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "resource error"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "timeout"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "packet too big"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "network error"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "address in use"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "address is not available"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "socket operation is not supported"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "unfinished socket operation"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "authentication required"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "handshake failed"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "connection refused"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "proxy connection closed"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "proxy connection timeout"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "proxy not found"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "proxy protocol error"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "socket operation error"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "ssl error"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "invalid user data"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "temporary error"),
    };
    // The broker's refusals, CONNACK return codes 1 to 5: a user who is refused learns why.
    static const char *const refusals[] = {
        QT_TRANSLATE_NOOP("CalvexCloudClient", "unacceptable protocol version"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "identifier rejected"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "server unavailable"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "bad user name or password"),
        QT_TRANSLATE_NOOP("CalvexCloudClient", "not authorized"),
    };
    constexpr int count = int(sizeof(texts) / sizeof(texts[0]));
    constexpr int refusalCount = int(sizeof(refusals) / sizeof(refusals[0]));
    const int refusal = code - E::MqttUnacceptableProtocolVersionError;
    if (refusal >= 0 && refusal < refusalCount)
        return QCoreApplication::translate("CalvexCloudClient", refusals[refusal]);
    return QCoreApplication::translate("CalvexCloudClient",
                                       code >= 0 && code < count ? texts[code] : texts[0]);
}
