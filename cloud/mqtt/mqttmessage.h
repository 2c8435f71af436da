#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// One MQTT application message as the connection sends and delivers it (never retained). A QoS 1
// message counts as published when the broker has acknowledged it (PUBACK); QoS 0 once written.
struct MqttMessage
{
    QString topic;
    QByteArray payload;
    quint16 id = 0;
    quint8 qos = 0;
};

Q_DECLARE_METATYPE(MqttMessage)
