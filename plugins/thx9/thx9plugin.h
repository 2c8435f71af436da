#pragma once

#include "hidthingtype.h"
#include "thx9device.h"

#include <QObject>

// Thing type "thx9": the DS18B20 USB temperature sensor.
class THX9Plugin : public QObject, public HidThingType<THX9Device>
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "thx9.json")
    Q_INTERFACES(AbstractThingType)

public:
    THX9Plugin() : HidThingType(QStringLiteral("IOT DS18B20(?: HID)?")) {}
};
