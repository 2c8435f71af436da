#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

struct _UMockdevTestbed;

// One simulated USB HID device on the umockdev testbed: a hidraw node that the real hidapi hidraw
// backend enumerates, opens, reads, writes and queries for feature reports. The node's requests are
// answered on umockdev's worker thread; every public member is safe to call from any thread.
class SimulatedHidDevice
{
public:
    struct Config
    {
        ushort vendorId = 0;
        ushort productId = 0;
        QString serial;
        QString product;
        QString manufacturer = QStringLiteral("Pellmark");
        ushort release = 0x0100;
    };

    ~SimulatedHidDevice();
    SimulatedHidDevice(const SimulatedHidDevice &) = delete;
    SimulatedHidDevice &operator=(const SimulatedHidDevice &) = delete;

    ushort vendorId() const;
    ushort productId() const;
    QString serial() const;
    QString product() const;
    // hidraw index: the node is /dev/hidraw<index>.
    int index() const;
    QString devnode() const;
    bool isPlugged() const;

    // Queues one input report; one hid_read returns it.
    void injectInput(const QByteArray &report);
    // Sensor report 0x01 with the temperature in hundredths of a degree, signed 16-bit little endian.
    void injectTemperature(double celsius);
    void injectRawTemperature(qint16 hundredths);
    int pendingInputCount() const;
    // Called on umockdev's worker thread whenever a queued input report is handed to a reader, just
    // before its read completes (benchmarks time deliveries with it); reads that find nothing queued
    // do not call it. Keep it short and thread-safe; an empty hook removes it.
    using InputHook = std::function<void(const QByteArray &report)>;
    void setInputDeliveredHook(InputHook hook);

    // The bytes a feature request for report id report[0] returns (any length, cut to the request).
    void setFeature(const QByteArray &report);
    // Requests for that report id fail from now on, as a stalled request does.
    void removeFeature(uchar reportId);
    // Watchdog status report 4, 17 bytes.
    void setWatchdogStatus(uchar status, uchar status2, uchar kind, uchar b4, uchar b5 = 0, uchar b6 = 0);

    // Output reports written by clients, oldest first.
    int outputCount() const;
    QList<QByteArray> takeOutputs();
    // Waits until at least count output reports arrived, processing the caller's events meanwhile.
    bool waitForOutputs(int count, int timeoutMs);
    // While set, every write fails with EIO.
    void setWritesFail(bool fail);

    // Requests that reached the device (also those refused after an unplug).
    int ioctlCount() const;
    int readCount() const;
    int writeCount() const;
    int requestCount() const { return ioctlCount() + readCount() + writeCount(); }
    // Descriptors open on the node right now, in any process.
    int openCount() const;

    // Hangs the node up (a client's next read fails) and removes the device from /sys.
    void unplug();

private:
    friend class SimulatedHidBus;
    SimulatedHidDevice(_UMockdevTestbed *testbed, int index, const Config &config);

    struct Private;
    std::unique_ptr<Private> d;
};
