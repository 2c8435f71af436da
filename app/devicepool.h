#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

class QAbstractThing;

// One entry of the device pool: a thing the gateway has met, with its alias and registration id.
struct PoolEntry
{
    QString type;
    QString version;
    QString serial;
    QString alias;
    QString regid;

    // The entry of a live thing as the pool stores it.
    static PoolEntry of(const QAbstractThing *thing);
    // Members that are missing or not strings read as empty.
    static PoolEntry fromJson(const QJsonObject &entry);
    QJsonObject toJson() const;

    // "type_version_serial", "?" standing for an empty serial, so that it equals the short id of a
    // live thing.
    QString key() const;
    // "type_version_serial_regid", comparable with a live thing's cloud id.
    QString registeredKey() const;
    bool matches(const QAbstractThing *thing) const;
};

// The persistent record of every thing the gateway has met, stored under Devices/Pool as a JSON
// document {"devices": [entries], "updated": time}. This namespace owns that format and alone writes
// it, on the runner's thread; everyone else reads it, or asks the runner to change it.
namespace DevicePool {

// The stored document; an absent or unparsable one reads as an empty object.
QJsonObject read();
// Stores a document as text().
void write(const QJsonObject &doc);
// The document a stored text holds; unparsable text reads as an empty object.
QJsonObject parse(const QString &text);
// The stored text of a document: compact JSON, one byte per character.
QString text(const QJsonObject &doc);
// Whether a registered entry has this cloud id ("type_version_serial_regid").
bool holdsRegistered(const QString &cloudId);
// The stored entries, in order.
QList<PoolEntry> entries();
// The entries of a document, in order.
QList<PoolEntry> entriesOf(const QJsonObject &doc);
// Writes the things (the live devices followed by the gateway) into the pool: merged() with the
// stored document, or with an empty one.
void save(const QList<QAbstractThing *> &things, bool merge);
// The document with the things written into it. Entries of things that are not in the list are
// kept unchanged; gateway entries and entries with serial "?" are dropped before the gateway's own
// entry is appended again.
QJsonObject merged(QJsonObject doc, const QList<QAbstractThing *> &things);
// Replaces the stored pool with exactly these entries.
void store(const QList<PoolEntry> &entries);
// Drops the entries equal to one of these; false when none was there (nothing written).
bool forget(const QList<QJsonObject> &entries);
// Empties the registration id of every entry.
void clearRegistrations();
// The document with the registration id of every entry emptied and a fresh time stamp.
QJsonObject withoutRegistrations(QJsonObject doc);

} // namespace DevicePool
