#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

class QAbstractThing;

// The persistent record of every thing the gateway has met, with its alias and registration id,
// stored under Devices/Pool as a JSON document {"devices": [entries], "updated": time}.
namespace DevicePool {

QJsonObject read();
// Writes the things (the live devices followed by the gateway) into the pool. With merge, entries
// of things that are not in the list are kept; gateway entries and entries with serial "?" are
// dropped before the gateway's own entry is appended again.
void save(const QList<QAbstractThing *> &things, bool merge);

// "type_version_serial" of an entry, with "?" for an empty serial so that it equals the short id
// of a live thing without serial.
QString entryKey(const QJsonObject &entry);
// "type_version_serial_regid" of an entry, comparable with a live thing's cloud id.
QString registeredKey(const QJsonObject &entry);
// The entry of a thing as save() writes it.
QJsonObject entryOf(const QAbstractThing *thing);

} // namespace DevicePool
