#include "devicepool.h"

#include "qabstractthing.h"
#include "settingskeys.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSettings>

namespace {

// Members of the document and of its entries.
const QLatin1String DevicesMember("devices");
const QLatin1String UpdatedMember("updated");
const QLatin1String TypeMember("type");
const QLatin1String VersionMember("version");
const QLatin1String SerialMember("serial");
const QLatin1String AliasMember("alias");
const QLatin1String RegidMember("regid");

// Type of the gateway's own entry, rewritten by every save.
const QLatin1String GatewayType("gateway");
const QLatin1String NoSerial("?");

QJsonArray devicesOf(const QJsonObject &doc)
{
    return doc.value(DevicesMember).toArray();
}

void stamp(QJsonObject *doc, const QJsonArray &devices)
{
    doc->insert(UpdatedMember, QDateTime::currentDateTime().toString(QLatin1String(Key::TimestampFormat)));
    doc->insert(DevicesMember, devices);
}

} // namespace

PoolEntry PoolEntry::of(const QAbstractThing *thing)
{
    return {thing->type(), thing->version(), thing->serial(), thing->name(), thing->regid()};
}

PoolEntry PoolEntry::fromJson(const QJsonObject &entry)
{
    return {entry.value(TypeMember).toString(), entry.value(VersionMember).toString(),
            entry.value(SerialMember).toString(), entry.value(AliasMember).toString(),
            entry.value(RegidMember).toString()};
}

QJsonObject PoolEntry::toJson() const
{
    return {{TypeMember, type},
            {VersionMember, version},
            {SerialMember, serial},
            {RegidMember, regid},
            {AliasMember, alias}};
}

QString PoolEntry::key() const
{
    return QAbstractThing::idOf(type, version, serial.isEmpty() ? QString(NoSerial) : serial);
}

QString PoolEntry::registeredKey() const
{
    return QAbstractThing::idOf(type, version, serial) + QLatin1Char('_') + regid;
}

bool PoolEntry::matches(const QAbstractThing *thing) const
{
    return thing->matches(type, version, serial);
}

namespace DevicePool {

QJsonObject parse(const QString &text)
{
    return QJsonDocument::fromJson(text.toLatin1()).object();
}

QJsonObject read()
{
    return parse(Key::DevicesPool.read(QSettings()).toString());
}

bool holdsRegistered(const QString &cloudId)
{
    // Asked for every report sent: the ids are parsed again only when the stored text has changed.
    thread_local QString parsedText;
    thread_local QSet<QString> ids;
    const QString text = Key::DevicesPool.read(QSettings()).toString();
    if (text != parsedText) {
        parsedText = text;
        ids.clear();
        const QJsonArray devices = devicesOf(parse(text));
        for (const QJsonValue &value : devices) {
            const PoolEntry entry = PoolEntry::fromJson(value.toObject());
            if (!entry.regid.isEmpty())
                ids.insert(entry.registeredKey());
        }
    }
    return ids.contains(cloudId);
}

QString text(const QJsonObject &doc)
{
    return QString::fromLatin1(QJsonDocument(doc).toJson(QJsonDocument::Compact));
}

void write(const QJsonObject &doc)
{
    QSettings().setValue(Key::DevicesPool, text(doc));
}

QList<PoolEntry> entries()
{
    return entriesOf(read());
}

QList<PoolEntry> entriesOf(const QJsonObject &doc)
{
    QList<PoolEntry> list;
    const QJsonArray devices = devicesOf(doc);
    for (const QJsonValue &value : devices)
        list.append(PoolEntry::fromJson(value.toObject()));
    return list;
}

void save(const QList<QAbstractThing *> &things, bool merge)
{
    write(merged(merge ? read() : QJsonObject(), things));
}

QJsonObject merged(QJsonObject doc, const QList<QAbstractThing *> &things)
{
    QJsonArray devices = devicesOf(doc);

    QHash<QString, int> index;
    for (int i = 0; i < devices.size();) {
        const PoolEntry entry = PoolEntry::fromJson(devices.at(i).toObject());
        if (entry.type == GatewayType || entry.serial == NoSerial) {
            devices.removeAt(i);
            continue;
        }
        index.insert(entry.key(), i);
        ++i;
    }
    for (const QAbstractThing *thing : things) {
        const QJsonObject entry = PoolEntry::of(thing).toJson();
        const auto it = index.constFind(thing->shortid());
        if (it != index.constEnd()) {
            devices.replace(it.value(), entry);
        } else {
            index.insert(thing->shortid(), devices.size());
            devices.append(entry);
        }
    }
    stamp(&doc, devices);
    return doc;
}

void store(const QList<PoolEntry> &entries)
{
    QJsonArray devices;
    for (const PoolEntry &entry : entries)
        devices.append(entry.toJson());
    QJsonObject doc;
    stamp(&doc, devices);
    write(doc);
}

bool forget(const QList<QJsonObject> &entries)
{
    QJsonObject doc = read();
    const QJsonArray devices = devicesOf(doc);
    QJsonArray kept;
    for (const QJsonValue &device : devices) {
        if (!device.isObject() || !entries.contains(device.toObject()))
            kept.append(device);
    }
    if (kept.size() == devices.size())
        return false;
    stamp(&doc, kept);
    write(doc);
    return true;
}

void clearRegistrations()
{
    write(withoutRegistrations(read()));
}

QJsonObject withoutRegistrations(QJsonObject doc)
{
    QJsonArray devices = devicesOf(doc);
    for (int i = 0; i < devices.size(); ++i) {
        if (!devices.at(i).isObject())
            continue;
        QJsonObject entry = devices.at(i).toObject();
        entry.insert(RegidMember, QString());
        devices.replace(i, entry);
    }
    stamp(&doc, devices);
    return doc;
}

} // namespace DevicePool
