#include "thingstate.h"

#include "qabstractthing.h"

#include <QMetaType>

ThingState::ThingState(const QAbstractThing *thing, bool withState)
    : name(thing->name()), shortid(thing->shortid()), regid(thing->regid())
{
    if (withState)
        state = thing->state();
}

ThingState ThingState::goneRecord(const QAbstractThing *thing, const QString &formerSerial)
{
    ThingState record(thing, false);
    record.gone = true;
    if (!formerSerial.isNull())
        record.shortid = QAbstractThing::idOf(thing->type(), thing->version(), formerSerial);
    return record;
}

bool ThingState::operator==(const ThingState &other) const
{
    return name == other.name && shortid == other.shortid && regid == other.regid && gone == other.gone &&
           state == other.state;
}

void ThingState::registerMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<ThingState>("ThingState");
        const int listId = qRegisterMetaType<ThingStateList>("ThingStateList");
        // Lets a QVariant holding the list be walked with QSequentialIterable.
        const int iterableId = qMetaTypeId<QtMetaTypePrivate::QSequentialIterableImpl>();
        if (!QMetaType::hasRegisteredConverterFunction(listId, iterableId))
            QMetaType::registerConverter<ThingStateList, QtMetaTypePrivate::QSequentialIterableImpl>(
                QtMetaTypePrivate::QSequentialIterableConvertFunctor<ThingStateList>());
        return true;
    }();
    Q_UNUSED(registered)
}
