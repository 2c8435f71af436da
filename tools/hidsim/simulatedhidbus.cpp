// umockdev.h pulls in gio, whose struct member "signals" clashes with Qt's keyword macro: it comes
// before every Qt header in this file.
#include <umockdev.h>

#include "simulatedhidbus.h"

#include <algorithm>

SimulatedHidBus::SimulatedHidBus()
{
    m_testbed = umockdev_testbed_new(); // also sets UMOCKDEV_DIR for this process
}

SimulatedHidBus::~SimulatedHidBus()
{
    m_devices.clear();
    g_object_unref(m_testbed);
}

bool SimulatedHidBus::isActive() const
{
    return umockdev_in_mock_environment();
}

QString SimulatedHidBus::umockdevDir() const
{
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    const QString dir = QString::fromLocal8Bit(root);
    g_free(root);
    return dir;
}

void SimulatedHidBus::releaseClosedDevices()
{
    m_devices.erase(std::remove_if(m_devices.begin(), m_devices.end(),
                                   [](const std::unique_ptr<SimulatedHidDevice> &dev) {
                                       return !dev->isPlugged() && dev->openCount() == 0;
                                   }),
                    m_devices.end());
}

int SimulatedHidBus::freeIndex() const
{
    // The lowest hidraw index that no device, plugged or still held open by a client, occupies.
    for (int index = 0;; ++index) {
        const bool taken = std::any_of(
            m_devices.begin(), m_devices.end(),
            [index](const std::unique_ptr<SimulatedHidDevice> &dev) { return dev->index() == index; });
        if (!taken)
            return index;
    }
}

SimulatedHidDevice *SimulatedHidBus::plug(const SimulatedHidDevice::Config &config)
{
    releaseClosedDevices();
    m_devices.emplace_back(new SimulatedHidDevice(m_testbed, freeIndex(), config));
    return m_devices.back().get();
}

SimulatedHidDevice *SimulatedHidBus::plug(ushort vendorId, ushort productId, const QString &serial,
                                          const QString &product)
{
    SimulatedHidDevice::Config config;
    config.vendorId = vendorId;
    config.productId = productId;
    config.serial = serial;
    config.product = product;
    return plug(config);
}

SimulatedHidDevice *SimulatedHidBus::plugSensor(const QString &serial, const QString &product)
{
    return plug(PellmarkVendorId, SensorProductId, serial, product);
}

SimulatedHidDevice *SimulatedHidBus::plugWatchdog(const QString &serial, const QString &product)
{
    SimulatedHidDevice *dev = plug(PellmarkVendorId, WatchdogProductId, serial, product);
    dev->setWatchdogStatus(0, 0, 0, 0);
    return dev;
}

int SimulatedHidBus::unplug(const QString &serial)
{
    int count = 0;
    for (const auto &dev : m_devices) {
        if (dev->isPlugged() && dev->serial() == serial) {
            dev->unplug();
            ++count;
        }
    }
    return count;
}

SimulatedHidDevice *SimulatedHidBus::device(const QString &serial) const
{
    for (const auto &dev : m_devices) {
        if (dev->isPlugged() && dev->serial() == serial)
            return dev.get();
    }
    return nullptr;
}

QList<SimulatedHidDevice *> SimulatedHidBus::devices() const
{
    QList<SimulatedHidDevice *> plugged;
    for (const auto &dev : m_devices) {
        if (dev->isPlugged())
            plugged.append(dev.get());
    }
    return plugged;
}
