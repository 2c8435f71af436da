#pragma once

#include "abstractthingtype.h"

#include <QObject>

// Thing type "watchdog": the Vigil USB watchdog.
class VGL5Plugin : public QObject, public AbstractThingType
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "watchdog.json")
    Q_INTERFACES(AbstractThingType)

public:
    QHash<QString, QVariant> scan() override;
    QAbstractThing *create(const QString &serial, const QVariant &id,
                           const QHash<QString, QVariant> &settings, QObject **thui) override;
    bool equals(const QString &serial, const QAbstractThing *thing) override;
};
