#pragma once

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

class QAbstractThing;

// One thing as the user interface sees it: a dashboard row, or the news that the row is gone.
struct ThingState
{
    QString name;
    QString shortid;
    QString regid;
    bool gone = false;
    QJsonObject state;

    ThingState() = default;
    ThingState(const QAbstractThing *thing, bool withState);
    // The record of a thing gone; under an earlier serial of it when one is given.
    static ThingState goneRecord(const QAbstractThing *thing, const QString &formerSerial = QString());

    bool operator==(const ThingState &other) const;

    // Registers "ThingState" and "ThingStateList" (iterable as a sequence from a QVariant).
    static void registerMetaTypes();
};

using ThingStateList = QList<ThingState>;

Q_DECLARE_METATYPE(ThingState)
Q_DECLARE_METATYPE(ThingStateList)
