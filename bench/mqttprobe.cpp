#include "mqttprobe.h"

#include "benchstats.h"

#include <QElapsedTimer>
#include <QThread>

#include <mosquitto.h>

MqttProbe::MqttProbe(const QString &clientId, Mode mode) : m_mode(mode)
{
    m_mosq = mosquitto_new(clientId.toUtf8().constData(), true, this);
    if (!m_mosq)
        return;
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, onConnect);
    mosquitto_subscribe_callback_set(m_mosq, onSubscribe);
    mosquitto_message_callback_set(m_mosq, onMessage);
}

MqttProbe::~MqttProbe()
{
    if (!m_mosq)
        return;
    mosquitto_disconnect(m_mosq);
    if (m_threadStarted)
        mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
}

void MqttProbe::onConnect(mosquitto *, void *self, int rc)
{
    auto *probe = static_cast<MqttProbe *>(self);
    probe->m_connectResult = rc;
    probe->m_connected = rc == 0;
}

void MqttProbe::onSubscribe(mosquitto *, void *self, int, int count, const int *granted)
{
    static_cast<MqttProbe *>(self)->m_subscribed = count > 0 && granted[0] <= 2;
}

void MqttProbe::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    const qint64 now = monotonicNs();
    auto *probe = static_cast<MqttProbe *>(self);
    if (!probe->m_handler)
        return;
    probe->m_handler(QByteArray(message->topic),
                     QByteArray(static_cast<const char *>(message->payload), message->payloadlen), now);
}

bool MqttProbe::waitFor(const std::atomic<bool> &flag, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!flag && timer.elapsed() < timeoutMs) {
        if (m_mode == Publisher)
            mosquitto_loop(m_mosq, 10, 1);
        else
            QThread::msleep(5);
    }
    return flag;
}

bool MqttProbe::connectTo(const QString &host, quint16 port, const Tls &tls, int timeoutMs)
{
    if (!m_mosq) {
        m_error = QStringLiteral("mosquitto_new failed");
        return false;
    }
    int rc = mosquitto_tls_set(m_mosq, tls.caFile.toLocal8Bit().constData(), nullptr,
                               tls.certFile.toLocal8Bit().constData(), tls.keyFile.toLocal8Bit().constData(),
                               nullptr);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_connect(m_mosq, host.toUtf8().constData(), port, 60);
    if (rc == MOSQ_ERR_SUCCESS && m_mode == Subscriber) {
        rc = mosquitto_loop_start(m_mosq);
        m_threadStarted = rc == MOSQ_ERR_SUCCESS;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        m_error = QString::fromUtf8(mosquitto_strerror(rc));
        return false;
    }
    if (!waitFor(m_connected, timeoutMs)) {
        m_error = m_connectResult > 0 ? QString::fromUtf8(mosquitto_connack_string(m_connectResult))
                                      : QStringLiteral("no CONNACK");
        return false;
    }
    return true;
}

bool MqttProbe::subscribe(const QString &filter, int timeoutMs)
{
    m_subscribed = false;
    const int rc = mosquitto_subscribe(m_mosq, nullptr, filter.toUtf8().constData(), 0);
    if (rc != MOSQ_ERR_SUCCESS) {
        m_error = QString::fromUtf8(mosquitto_strerror(rc));
        return false;
    }
    if (!waitFor(m_subscribed, timeoutMs)) {
        m_error = QStringLiteral("subscription to %1 not acknowledged").arg(filter);
        return false;
    }
    return true;
}

bool MqttProbe::publish(const QByteArray &topic, const QByteArray &payload)
{
    return mosquitto_publish(m_mosq, nullptr, topic.constData(), payload.size(), payload.constData(), 0,
                             false) == MOSQ_ERR_SUCCESS;
}

void MqttProbe::service(int ms)
{
    QElapsedTimer timer;
    timer.start();
    do {
        mosquitto_loop(m_mosq, qMax(1, ms - int(timer.elapsed())), 1);
    } while (timer.elapsed() < ms);
}
