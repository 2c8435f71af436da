#pragma once

#include "settingskeys.h"
#include "thingstate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

// Device pool documents and thing rows for runner tests.
namespace PoolFixture {

// Stores a pool document with these entries, as the registry editor does.
inline void storePool(const QJsonArray &devices)
{
    const QJsonObject doc{{"devices", devices}, {"updated", "2026.01.01 00:00:00"}};
    QSettings().setValue(Key::DevicesPool,
                         QString::fromLatin1(QJsonDocument(doc).toJson(QJsonDocument::Compact)));
}

inline QJsonObject entry(const QString &type, const QString &version, const QString &serial,
                         const QString &regid, const QString &alias)
{
    return {{"type", type}, {"version", version}, {"serial", serial}, {"regid", regid}, {"alias", alias}};
}

// The row with this short id, else the first whose short id starts with it; an empty row if none.
inline ThingState find(const ThingStateList &list, const QString &shortid)
{
    for (const ThingState &t : list) {
        if (t.shortid == shortid)
            return t;
    }
    for (const ThingState &t : list) {
        if (t.shortid.startsWith(shortid))
            return t;
    }
    return {};
}

} // namespace PoolFixture
