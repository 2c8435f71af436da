#pragma once

#include "qabstractthing.h"

#include <cstdint>

struct hid_device_;

// The USB watchdog: sends a keep-alive before every poll, reads its status from feature report 4,
// and performs a reset or hard reset when the cloud asks for it and the user allowed it.
class VGL5Device : public QAbstractThing
{
    Q_OBJECT
    Q_PROPERTY(int interval READ interval WRITE setInterval)

public:
    enum Command : uchar { KeepAlive = 1, Reset = 2, HardReset = 3 };

    static constexpr ushort VendorId = 0x0483;
    static constexpr ushort ProductId = 0xA26D;
    static inline const QString TypeName = QStringLiteral("watchdog");
    static inline const QString TypeVersion = QStringLiteral("100");

    explicit VGL5Device(QObject *parent = nullptr);
    ~VGL5Device() override;

    QString type() const override { return TypeName; }
    QString version() const override { return TypeVersion; }
    Class thingClass() const override { return Sibling; }
    QString serial() const override { return m_serial; }
    void applyTypeSettings(const QHash<QString, QVariant> &settings) override;
    QJsonObject state() const override;
    bool setState(const QJsonObject &state) override;

    virtual bool open(const QString &serial, const QVariant &id);
    virtual int interval() const { return m_interval; }
    virtual void setInterval(int ms) { m_interval = ms; }

    bool sendCommand(uchar cmd);
    void doPoll();

public slots:
    void statePublished() override;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void stopTimer();
    void closeHandle();
    void lose();
    static double decodeTemperature(const uint8_t *report);

    int m_interval = 2500;
    QString m_serial;
    hid_device_ *m_handle = nullptr;
    int m_timerId = -1;
    uint8_t m_output[64] = {};
    uint8_t m_feature[64] = {};
    bool m_ping = true;
    bool m_rst = false;
    bool m_pwr = false;
    int m_flags = 1;
    int m_status = -1;
    int m_status2 = 0;
    double m_temperature = -273.0;
};
