#include "vgl5device.h"

#include <QJsonValue>
#include <QTimerEvent>
#include <QVector>

#include <hidapi.h>

namespace {

constexpr double NoTemperature = -273.0;
constexpr int FeatureReportId = 4;
constexpr int FeatureReportSize = 17;

// Commands after which the device drops off the bus and comes back as a new device.
bool reEnumerates(uchar cmd)
{
    return cmd == 3 || cmd == 4 || cmd == 18 || cmd == 19;
}

bool temperaturesEqual(double a, double b)
{
    return a == b || qFuzzyCompare(a, b);
}

} // namespace

VGL5Device::VGL5Device(QObject *parent) : QAbstractThing(parent) {}

VGL5Device::~VGL5Device()
{
    stopTimer();
    closeHandle();
}

void VGL5Device::applyTypeSettings(const QHash<QString, QVariant> &settings)
{
    m_ping = settings.value(QStringLiteral("ping"), true).toBool();
    m_rst = settings.value(QStringLiteral("rst"), false).toBool();
    m_pwr = settings.value(QStringLiteral("pwr"), false).toBool();
}

QJsonObject VGL5Device::state() const
{
    if (m_status == -1)
        return {};
    return {{QStringLiteral("flags"), m_flags},
            {QStringLiteral("ch3"),
             m_temperature < -100.0 ? QJsonValue(QJsonValue::Null) : QJsonValue(m_temperature)}};
}

bool VGL5Device::setState(const QJsonObject &state)
{
    if (m_pwr && state.value(QStringLiteral("pwr")).toInt() == 1)
        return !sendCommand(HardReset);
    if (m_rst && state.value(QStringLiteral("rst")).toInt() == 1)
        return !sendCommand(Reset);
    return true;
}

bool VGL5Device::open(const QString &serial, const QVariant &id)
{
    stopTimer();
    closeHandle();
    m_serial = serial;

    const uint u = id.toUInt();
    QVector<wchar_t> wserial(serial.size() + 1, 0);
    wserial.resize(serial.toWCharArray(wserial.data()) + 1);
    wserial.last() = 0;
    m_handle = hid_open(ushort(u >> 16), ushort(u & 0xFFFF), wserial.constData());
    if (!m_handle)
        return false;
    hid_set_nonblocking(m_handle, 1);
    m_timerId = startTimer(m_interval, Qt::CoarseTimer);
    return true;
}

bool VGL5Device::sendCommand(uchar cmd)
{
    if (!m_handle)
        return false;
    m_output[0] = 0x01;
    m_output[1] = cmd;
    if (hid_write(m_handle, m_output, 2) <= 1)
        return false;
    if (reEnumerates(cmd)) {
        // The device is gone for good: announce it once, and stop polling so the next tick does
        // not announce it a second time while the owner is still releasing this object.
        stopTimer();
        closeHandle();
        emit mediumGone();
    }
    return true;
}

void VGL5Device::doPoll()
{
    if (!m_handle)
        return;
    if (m_ping && !sendCommand(KeepAlive)) {
        lose();
        return;
    }
    std::fill(std::begin(m_feature), std::end(m_feature), uint8_t(0));
    m_feature[0] = FeatureReportId;
    if (hid_get_feature_report(m_handle, m_feature, FeatureReportSize) != FeatureReportSize) {
        lose();
        return;
    }

    const int oldStatus = m_status;
    const int oldStatus2 = m_status2;
    const double oldTemperature = m_temperature;
    m_status = m_feature[1];
    if (m_feature[2] == 0xFF) {
        m_status2 = -1;
        m_temperature = NoTemperature;
    } else {
        m_status2 = m_feature[2];
        m_temperature = decodeTemperature(m_feature);
    }
    if (m_status != oldStatus || m_status2 != oldStatus2 || !temperaturesEqual(m_temperature, oldTemperature))
        emit stateChanged(state());
}

double VGL5Device::decodeTemperature(const uint8_t *report)
{
    switch (report[3]) {
    case 1:
    case 2:
        return report[4];
    case 3: {
        const int whole = int8_t(report[4]);
        if (whole == -1)
            return NoTemperature;
        const int fraction = report[5] | report[6] << 8;
        return whole + (fraction / 1000) / 10.0;
    }
    default:
        return NoTemperature;
    }
}

void VGL5Device::statePublished()
{
    // Bit 0 says "not published yet": it only goes once a real state (after the first poll) went out.
    if (!(m_flags & 1) || m_status == -1)
        return;
    m_flags &= ~1;
    emit stateChanged(state());
}

void VGL5Device::timerEvent(QTimerEvent *event)
{
    if (m_handle) {
        doPoll();
        return;
    }
    killTimer(event->timerId());
    m_timerId = -1;
    emit mediumGone();
}

void VGL5Device::stopTimer()
{
    if (m_timerId > 0)
        killTimer(m_timerId);
    m_timerId = -1;
}

void VGL5Device::closeHandle()
{
    if (m_handle) {
        hid_close(m_handle);
        m_handle = nullptr;
    }
}

void VGL5Device::lose()
{
    stopTimer();
    closeHandle();
    emit mediumGone();
}
