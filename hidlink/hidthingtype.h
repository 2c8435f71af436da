#pragma once

#include "abstractthingtype.h"
#include "qabstracthiddevice.h"

#include <QString>

// The thing type of one kind of HID device: scans for it by vendor id, product id and a pattern of
// its product name, and makes a Device thing for one that is found. Device brings VendorId,
// ProductId, TypeName and TypeVersion and opens with open(serial, id).
//
// A plug-in is the Qt plug-in object around it:
//
//     class FooPlugin : public QObject, public HidThingType<FooDevice>
//     {
//         Q_OBJECT
//         Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "foo.json")
//         Q_INTERFACES(AbstractThingType)
//     public:
//         FooPlugin() : HidThingType(QStringLiteral("Foo Sensor")) {}
//     };
template <typename Device> class HidThingType : public AbstractThingType
{
public:
    explicit HidThingType(const QString &productPattern) : m_productPattern(productPattern) {}

    QHash<QString, QVariant> scan() override
    {
        return QAbstractHidDevice::availableDevices(Device::VendorId, Device::ProductId, m_productPattern);
    }

    QAbstractThing *create(const QString &serial, const QVariant &id,
                           const QHash<QString, QVariant> &settings, QObject **thui) override
    {
        Q_UNUSED(thui)
        auto *device = new Device;
        if (!device->open(serial, id)) {
            delete device;
            return nullptr;
        }
        device->applyTypeSettings(settings);
        return device;
    }

    bool equals(const QString &serial, const QAbstractThing *thing) override
    {
        return thing && thing->matches(Device::TypeName, Device::TypeVersion, serial);
    }

private:
    const QString m_productPattern;
};
