#pragma once

#include "qabstracthiddevice.h"

// The DS18B20 sensor: input report 0x01 carries the temperature in hundredths of a degree Celsius
// (signed 16-bit little-endian); the state is that reading in the user's unit, in half degrees.
class THX9Device : public QAbstractHidDevice
{
    Q_OBJECT

public:
    enum Unit { Celsius = 0, Fahrenheit = 1, Kelvin = 2 };
    Q_ENUM(Unit)

    static constexpr ushort VendorId = 0x0483;
    static constexpr ushort ProductId = 0xA26A;
    static inline const QString TypeName = QStringLiteral("thx9");
    static inline const QString TypeVersion = QStringLiteral("100");

    explicit THX9Device(QObject *parent = nullptr);

    QString type() const override { return TypeName; }
    QString version() const override { return TypeVersion; }
    Class thingClass() const override { return Sibling; }
    void applyTypeSettings(const QHash<QString, QVariant> &settings) override;
    QJsonObject state() const override;
    bool setState(const QJsonObject &state) override;

    Unit unit() const { return m_unit; }

public slots:
    void statePublished() override;

protected slots:
    void processReport(const uint8_t *data, int size) override;

private:
    void announce();

    Unit m_unit = Celsius;
    double m_temperature = -300.0; // the last reading; below -273 means none yet
    double m_announced = -300.0;   // the reading the last stateChanged carried
};
