#pragma once

#include "qabstractthing.h"

#include <QHash>
#include <QString>
#include <QVariant>
#include <QtPlugin>

#define AbstractThingType_iid "pro.tessel.tsl_gate.AbstractThingType/1.0"

// Interface of a thing-type plug-in: lists the attached devices of its type, creates a thing for
// one of them, and tells whether an existing thing stands for a scanned device.
class AbstractThingType
{
public:
    virtual ~AbstractThingType() = default;
    // Attached devices keyed by serial number; the values are ids only the plug-in interprets.
    virtual QHash<QString, QVariant> scan() = 0;
    // A new thing without parent (the caller owns it), or null when the device cannot be opened.
    virtual QAbstractThing *create(const QString &serial, const QVariant &id,
                                   const QHash<QString, QVariant> &settings, QObject **thui) = 0;
    virtual bool equals(const QString &serial, const QAbstractThing *thing) = 0;
};

Q_DECLARE_INTERFACE(AbstractThingType, AbstractThingType_iid)
