#include "thx9device.h"

#include <cmath>

THX9Device::THX9Device(QObject *parent) : QAbstractHidDevice(parent) {}

void THX9Device::applyTypeSettings(const QHash<QString, QVariant> &settings)
{
    const QString text =
        settings.value(QStringLiteral("unit"), QStringLiteral("Celsius")).toString().toLower();
    Unit unit = Celsius;
    if (text == QLatin1String("fahrenheit"))
        unit = Fahrenheit;
    else if (text == QLatin1String("kelvin"))
        unit = Kelvin;
    if (unit == m_unit)
        return;
    m_unit = unit;
    announce();
}

QJsonObject THX9Device::state() const
{
    if (m_temperature < -273.0)
        return {};
    double v = m_temperature;
    if (m_unit == Fahrenheit)
        v = m_temperature * 9 / 5 + 32;
    else if (m_unit == Kelvin)
        v = m_temperature + 273.15;
    // Half degrees, halves rounded towards positive infinity.
    const double halves = std::floor(2 * v + 0.5);
    return {{QStringLiteral("t"), halves * 0.5}};
}

bool THX9Device::setState(const QJsonObject &state)
{
    Q_UNUSED(state)
    return false;
}

void THX9Device::statePublished() {}

void THX9Device::processReport(const uint8_t *data, int size)
{
    if (size <= 2 || data[0] != 0x01)
        return;
    m_temperature = int16_t(uint16_t(data[1] | data[2] << 8)) / 100.0;
    // Measured against what was last announced, not against the previous reading: a slow drift of
    // a few hundredths a second still shows at every half degree, while noise below that does not.
    if (std::fabs(m_temperature - m_announced) >= 0.5)
        announce();
}

void THX9Device::announce()
{
    m_announced = m_temperature;
    emit stateChanged(state());
}
