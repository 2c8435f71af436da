#include "syntheticthing.h"

#include <QTimerEvent>

SyntheticThing::SyntheticThing(const QString &serial, QObject *parent)
    : QAbstractThing(parent), m_serial(serial)
{
    m_timer = startTimer(m_period, Qt::CoarseTimer);
}

QJsonObject SyntheticThing::state() const
{
    return {{QStringLiteral("v"), double(m_value)}};
}

bool SyntheticThing::setState(const QJsonObject &state)
{
    const QJsonValue v = state.value(QStringLiteral("v"));
    if (!v.isDouble())
        return false;
    m_value = qint64(v.toDouble());
    emit stateChanged(this->state());
    return true;
}

void SyntheticThing::applyTypeSettings(const QHash<QString, QVariant> &settings)
{
    bool ok = false;
    const int period = settings.value(QStringLiteral("period")).toInt(&ok);
    if (!ok || period == m_period)
        return;
    m_period = qMax(10, period);
    killTimer(m_timer);
    m_timer = startTimer(m_period, Qt::CoarseTimer);
}

void SyntheticThing::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer) {
        QAbstractThing::timerEvent(event);
        return;
    }
    ++m_value;
    emit stateChanged(state());
}
