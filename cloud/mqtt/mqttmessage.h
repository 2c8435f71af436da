#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// One MQTT application message as the connection sends and delivers it (QoS 0, never retained).
struct MqttMessage
{
    QString topic;
    QByteArray payload;
    quint16 id = 0;
};

Q_DECLARE_METATYPE(MqttMessage)
