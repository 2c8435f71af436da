#include "qssemanager.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrlQuery>

QSSEManager::QSSEManager(QObject *parent) : QObject(parent) {}

QSSEManager::~QSSEManager()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->close();
        delete m_reply;
        m_reply = nullptr;
    }
    delete m_manager;
}

bool QSSEManager::openStream(const QString &url, const QJsonObject &query)
{
    QUrl target(url, QUrl::TolerantMode);
    if (!query.isEmpty()) {
        QUrlQuery items;
        for (auto it = query.constBegin(); it != query.constEnd(); ++it)
            items.addQueryItem(it.key(), it.value().isString() ? it.value().toString() : QString());
        // A literal '+' reads as a space to form decoders on the server side: send it escaped.
        QString encoded = items.query(QUrl::FullyEncoded);
        encoded.replace(QLatin1Char('+'), QLatin1String("%2B"));
        target.setQuery(encoded, QUrl::StrictMode);
    }
    return openStream(target);
}

bool QSSEManager::openStream(const QUrl &url)
{
    if (isOpen())
        return false;
    forgetReply();
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);

    QNetworkRequest request(url);
    // Follow redirects, but never from HTTPS down to plain HTTP.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    m_reply = m_manager->get(request);
    if (!m_reply) {
        m_manager->deleteLater();
        m_manager = nullptr;
        return false;
    }
    // The network layer stops reading from the socket while this much waits to be read here, so
    // a registrar that sends faster than we parse cannot fill the memory.
    m_reply->setReadBufferSize(ReadBufferSize);

    m_parser.reset();
    connect(m_reply, &QNetworkReply::readyRead, this, &QSSEManager::dataReceived);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &QSSEManager::error);
    connect(m_reply, &QNetworkReply::redirected, this, &QSSEManager::redirected);
    connect(m_reply, &QNetworkReply::finished, this, &QSSEManager::finished);
    return true;
}

bool QSSEManager::isOpen() const
{
    // A reply stays open for reading after it has ended; an ended stream must not block the next one.
    return m_reply && m_reply->isOpen() && m_reply->isReadable() && !m_reply->isFinished();
}

void QSSEManager::close()
{
    if (!m_reply)
        return;
    const bool wasOpen = isOpen();
    forgetReply();
    if (wasOpen)
        emit disconnected();
    emit closed();
}

void QSSEManager::forgetReply()
{
    if (!m_reply)
        return;
    disconnect(m_reply, nullptr, this, nullptr);
    m_reply->deleteLater();
    m_reply = nullptr;
}

void QSSEManager::dataReceived()
{
    QNetworkReply *const reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || reply != m_reply)
        return;
    const QVector<QSSEParser::Event> events = m_parser.feed(reply->readAll());
    const QPointer<QSSEManager> self(this);
    for (const QSSEParser::Event &e : events) {
        emit dataReady(e.event, e.data, e.id);
        // A consumer may close the stream (or open another one) from its handler: the remaining
        // events of this block belong to the stream it left.
        if (!self || m_reply != reply)
            return;
    }
}

void QSSEManager::error(QNetworkReply::NetworkError code)
{
    Q_UNUSED(code)
}

void QSSEManager::redirected(const QUrl &url)
{
    Q_UNUSED(url)
}
