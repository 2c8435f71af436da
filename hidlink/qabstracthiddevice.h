#pragma once

#include "hidlink_global.h"
#include "qabstractthing.h"

#include <QHash>
#include <cstdint>

struct hid_device_;

// Base of things attached over USB HID: enumeration, opening by serial number, non-blocking
// polling of input reports on a timer, feature reports, and loss of the device as mediumGone().
class HIDLINK_EXPORT QAbstractHidDevice : public QAbstractThing
{
    Q_OBJECT
    Q_PROPERTY(int interval READ interval WRITE setInterval)

public:
    explicit QAbstractHidDevice(QObject *parent = nullptr);
    ~QAbstractHidDevice() override;

    // Attached devices of the given ids whose product string matches the whole pattern (any
    // product when the pattern is empty), keyed by serial number; values are vid << 16 | pid.
    static QHash<QString, QVariant> availableDevices(ushort vid, ushort pid, const QString &productPattern);

    QString serial() const override { return m_serial; }

    virtual bool open(const QString &serial, const QVariant &id);
    virtual int interval() const { return m_interval; }
    virtual void setInterval(int ms);
    // Reads feature report reportId into buf (64 bytes) or, when buf is null, the input buffer.
    virtual int get_feature(uchar reportId, uchar *buf = nullptr);

    void doPoll();

protected slots:
    virtual void processReport(const uint8_t *data, int size) = 0;

signals:
    void error(const QString &reason);

protected:
    void timerEvent(QTimerEvent *event) override;
    bool isOpen() const { return m_handle != nullptr; }
    int timerId() const { return m_timerId; }

private:
    void closeHandle();

    int m_interval = 1000;
    QString m_serial;
    hid_device_ *m_handle = nullptr;
    int m_timerId = -1;
    uint8_t m_input[64] = {};
};

extern "C" {
HIDLINK_EXPORT int init();
HIDLINK_EXPORT int deinit();
}
