#pragma once

#include "simulatedhiddevice.h"

#include <QList>
#include <QString>

#include <memory>
#include <vector>

// A umockdev testbed with simulated USB HID devices. Creating one points this process (through
// UMOCKDEV_DIR) at a fresh, empty /sys; the process must run with the umockdev preload so hidapi
// sees it. Only one bus may exist at a time. Devices are plugged and unplugged from the thread that
// owns the bus.
class SimulatedHidBus
{
public:
    static constexpr ushort PellmarkVendorId = 0x0483;
    static constexpr ushort SensorProductId = 0xA26A;
    static constexpr ushort WatchdogProductId = 0xA26D;

    SimulatedHidBus();
    ~SimulatedHidBus();
    SimulatedHidBus(const SimulatedHidBus &) = delete;
    SimulatedHidBus &operator=(const SimulatedHidBus &) = delete;

    // True when the umockdev preload redirects this process's /sys and /dev to the testbed.
    bool isActive() const;
    // The testbed root, for other processes started with the preload.
    QString umockdevDir() const;

    SimulatedHidDevice *plug(const SimulatedHidDevice::Config &config);
    SimulatedHidDevice *plug(ushort vendorId, ushort productId, const QString &serial,
                             const QString &product);
    SimulatedHidDevice *plugSensor(const QString &serial,
                                   const QString &product = QStringLiteral("IOT DS18B20 HID"));
    // A watchdog answers its status request from the start (all zero: no temperature sensor).
    SimulatedHidDevice *plugWatchdog(const QString &serial,
                                     const QString &product = QStringLiteral("USB Watchdog"));

    // Unplugs every plugged device with that serial; returns how many.
    int unplug(const QString &serial);
    // The first plugged device with that serial, or null.
    SimulatedHidDevice *device(const QString &serial) const;
    QList<SimulatedHidDevice *> devices() const;

private:
    void releaseClosedDevices();
    int freeIndex() const;

    struct _UMockdevTestbed *m_testbed = nullptr;
    // Plugged devices, and unplugged ones a client still holds open (their node stays served).
    std::vector<std::unique_ptr<SimulatedHidDevice>> m_devices;
};
