#pragma once

#include "hidthingtype.h"
#include "vgl5device.h"

#include <QObject>

// Thing type "watchdog": the Vigil USB watchdog.
class VGL5Plugin : public QObject, public HidThingType<VGL5Device>
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "watchdog.json")
    Q_INTERFACES(AbstractThingType)

public:
    VGL5Plugin() : HidThingType(QStringLiteral("(USB Watchdog|VGL HID Interface)")) {}
};
