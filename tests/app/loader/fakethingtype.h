#pragma once

#include "abstractthingtype.h"

#include <QObject>

// What the test plug-ins share: they find nothing and create nothing; only their metadata and
// their dependencies matter to the loader.
class FakeThingType : public QObject, public AbstractThingType
{
public:
    QHash<QString, QVariant> scan() override { return {}; }
    QAbstractThing *create(const QString &, const QVariant &, const QHash<QString, QVariant> &,
                           QObject **) override
    {
        return nullptr;
    }
    bool equals(const QString &, const QAbstractThing *) override { return false; }
};
