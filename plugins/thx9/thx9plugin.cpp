#include "thx9plugin.h"

#include "thx9device.h"

QHash<QString, QVariant> THX9Plugin::scan()
{
    return QAbstractHidDevice::availableDevices(THX9Device::VendorId, THX9Device::ProductId,
                                                QStringLiteral("IOT DS18B20(?: HID)?"));
}

QAbstractThing *THX9Plugin::create(const QString &serial, const QVariant &id,
                                   const QHash<QString, QVariant> &settings, QObject **thui)
{
    Q_UNUSED(thui)
    auto *device = new THX9Device;
    if (!device->open(serial, id)) {
        delete device;
        return nullptr;
    }
    device->applyTypeSettings(settings);
    return device;
}

bool THX9Plugin::equals(const QString &serial, const QAbstractThing *thing)
{
    return thing && thing->type() == THX9Device::TypeName && thing->version() == THX9Device::TypeVersion &&
           thing->serial() == serial;
}
