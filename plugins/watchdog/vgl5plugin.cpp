#include "vgl5plugin.h"

#include "qabstracthiddevice.h"
#include "vgl5device.h"

QHash<QString, QVariant> VGL5Plugin::scan()
{
    return QAbstractHidDevice::availableDevices(VGL5Device::VendorId, VGL5Device::ProductId,
                                                QStringLiteral("(USB Watchdog|VGL HID Interface)"));
}

QAbstractThing *VGL5Plugin::create(const QString &serial, const QVariant &id,
                                   const QHash<QString, QVariant> &settings, QObject **thui)
{
    Q_UNUSED(thui)
    auto *device = new VGL5Device;
    if (!device->open(serial, id)) {
        delete device;
        return nullptr;
    }
    device->applyTypeSettings(settings);
    return device;
}

bool VGL5Plugin::equals(const QString &serial, const QAbstractThing *thing)
{
    return thing && thing->type() == VGL5Device::TypeName && thing->version() == VGL5Device::TypeVersion &&
           thing->serial() == serial;
}
