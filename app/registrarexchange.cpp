#include "registrarexchange.h"

#include "qssemanager.h"
#include "settingskeys.h"

#include <QJsonDocument>
#include <QSettings>
#include <QTimer>

RegistrarExchange::RegistrarExchange(QObject *parent)
    : QObject(parent), m_events(new QSSEManager(this)), m_deadline(new QTimer(this))
{
    connect(m_events, &QSSEManager::finished, this, &RegistrarExchange::stream_closed);
    connect(m_events, &QSSEManager::dataReady, this,
            [this](const QString &evt, const QString &msg, const QString &) { stream_dataRead(evt, msg); });
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &RegistrarExchange::deadline_passed);
}

void RegistrarExchange::setPatience(int firstMs, int graceMs)
{
    m_firstMs = qBound(0, firstMs, 3600000);
    m_graceMs = qBound(0, graceMs, 3600000);
}

QJsonObject RegistrarExchange::errorResult(int code, const QString &text)
{
    return {{QStringLiteral("code"), code}, {QStringLiteral("error"), text}};
}

QJsonObject RegistrarExchange::start(const QString &doc)
{
    if (m_busy)
        return errorResult(409, tr("Busy with another request"));
    if (doc.isEmpty())
        return errorResult(400, tr("No new devices to register"));
    const QString endpoint = Key::WebRegEndpoint.read(QSettings()).toString();
    m_busy = true;
    if (!m_events->openStream(endpoint, {{QStringLiteral("doc"), doc}})) {
        m_busy = false;
        return errorResult(400, tr("Cannot establish a connection to the registrar service"));
    }
    m_deadline->start(m_firstMs);
    return {};
}

void RegistrarExchange::finish(bool closeLater)
{
    m_busy = false;
    m_deadline->stop();
    if (closeLater)
        QMetaObject::invokeMethod(m_events, &QSSEManager::close, Qt::QueuedConnection);
    else
        m_events->close();
}

void RegistrarExchange::stream_dataRead(const QString &evt, const QString &msg)
{
    if (!m_busy)
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(msg.toUtf8());
    if (evt == QLatin1String("error")) {
        m_busy = false;
        m_deadline->stop();
        // An error is an error even when the registrar cannot say it in JSON: what it sent is shown.
        if (doc.isObject() && doc.object().value(QStringLiteral("error")).isString())
            emit failed(doc.object());
        else
            emit failed(errorResult(502, tr("The registrar reported an error: %1").arg(msg.left(500))));
        m_events->close();
    } else if (evt == QLatin1String("code")) {
        // The code is valid for "timeout" seconds; the result may come until then, and a little
        // after. A validity beyond a day is the registrar's mistake, not a reason to wait longer.
        const int validMs = qBound(0, doc.object().value(QStringLiteral("timeout")).toInt(), 86400) * 1000;
        m_deadline->start(validMs + m_graceMs);
        emit codeReceived(doc.object());
    } else if (evt == QLatin1String("result")) {
        finish(true);
        // A result that is no JSON object still ends the exchange: the wizard waits for its answer.
        if (doc.isObject())
            emit resultReceived(doc.object());
        else
            emit failed(errorResult(498, tr("Reply processing error")));
    }
}

void RegistrarExchange::deadline_passed()
{
    if (!m_busy)
        return;
    finish(false);
    emit failed(errorResult(504, tr("The registrar service did not answer in time")));
}

void RegistrarExchange::stream_closed()
{
    m_deadline->stop();
    if (!m_busy)
        return;
    m_busy = false;
    emit failed(errorResult(500, tr("Connection to the registrar service was closed unexpectedly.")));
}
