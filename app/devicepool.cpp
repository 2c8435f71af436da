#include "devicepool.h"

#include "cxsettings.h"
#include "qabstractthing.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>

namespace {

QString member(const QJsonObject &entry, const char *name)
{
    return entry.value(QLatin1String(name)).toString();
}

} // namespace

namespace DevicePool {

QJsonObject read()
{
    return CXSettings().pool();
}

QString entryKey(const QJsonObject &entry)
{
    const QString serial = member(entry, "serial");
    return QStringLiteral("%1_%2_%3")
        .arg(member(entry, "type"), member(entry, "version"),
             serial.isEmpty() ? QStringLiteral("?") : serial);
}

QString registeredKey(const QJsonObject &entry)
{
    return QStringLiteral("%1_%2_%3_%4")
        .arg(member(entry, "type"), member(entry, "version"), member(entry, "serial"),
             member(entry, "regid"));
}

QJsonObject entryOf(const QAbstractThing *thing)
{
    return {{QStringLiteral("type"), thing->type()},
            {QStringLiteral("version"), thing->version()},
            {QStringLiteral("serial"), thing->serial()},
            {QStringLiteral("regid"), thing->regid()},
            {QStringLiteral("alias"), thing->name()}};
}

void save(const QList<QAbstractThing *> &things, bool merge)
{
    CXSettings settings;
    QJsonObject doc = merge ? settings.pool() : QJsonObject();
    QJsonArray entries = doc.value(QStringLiteral("devices")).toArray();

    QHash<QString, int> index;
    for (int i = 0; i < entries.size();) {
        const QJsonObject entry = entries.at(i).toObject();
        if (member(entry, "type") == QLatin1String("gateway") ||
            member(entry, "serial") == QLatin1String("?")) {
            entries.removeAt(i);
            continue;
        }
        index.insert(entryKey(entry), i);
        ++i;
    }
    for (const QAbstractThing *thing : things) {
        const QJsonObject entry = entryOf(thing);
        const auto it = index.constFind(thing->shortid());
        if (it != index.constEnd()) {
            entries.replace(it.value(), entry);
        } else {
            index.insert(thing->shortid(), entries.size());
            entries.append(entry);
        }
    }
    doc.insert(QStringLiteral("updated"),
               QDateTime::currentDateTime().toString(QLatin1String(Key::TimestampFormat)));
    doc.insert(QStringLiteral("devices"), entries);
    settings.setPool(doc);
}

} // namespace DevicePool
