#pragma once

#include "abstractthingtype.h"

#include <QObject>

// Thing type "thx9": the DS18B20 USB temperature sensor.
class THX9Plugin : public QObject, public AbstractThingType
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "thx9.json")
    Q_INTERFACES(AbstractThingType)

public:
    QHash<QString, QVariant> scan() override;
    QAbstractThing *create(const QString &serial, const QVariant &id,
                           const QHash<QString, QVariant> &settings, QObject **thui) override;
    bool equals(const QString &serial, const QAbstractThing *thing) override;
};
