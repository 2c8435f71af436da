#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

// The registry of the local cloud: every registered gateway (by cloud id) with its name and the
// devices registered for it. Kept as JSON in the data directory, written after every change.
class FleetStore
{
public:
    struct Device
    {
        QString id; // cloud id: short id + "_" + registration id
        QString alias;
    };
    struct Gateway
    {
        QString id;
        QString alias;
        QList<Device> devices;
    };

    explicit FleetStore(const QString &path);

    // False when the file exists but cannot be read or is not a registry.
    bool load();
    QString errorString() const { return m_error; }
    QString path() const { return m_path; }

    // A new gateway identity ("gateway_200_<serial>_<regid>") with a serial never handed out
    // before; nothing is stored until addGateway().
    QString newGatewayId();
    bool hasGateway(const QString &id) const { return m_gateways.contains(id); }
    Gateway gateway(const QString &id) const { return m_gateways.value(id); }
    QList<Gateway> gateways() const { return m_gateways.values(); }

    // Gives each (short id, alias) a fresh cloud id for gateway gw; a device registered earlier
    // under the same short id is replaced. Returns the new devices. Call save() to keep them.
    QList<Device> issueDevices(Gateway *gw, const QList<QPair<QString, QString>> &sib);
    void putGateway(const Gateway &gw) { m_gateways.insert(gw.id, gw); }
    void removeGateway(const QString &id) { m_gateways.remove(id); }
    bool save();

    // Fleet as the registrar sends it: [{"id", "alias"}, ...].
    static QJsonArray fleetJson(const Gateway &gw);
    // Registration ids: lower-case letters and digits, never "_".
    static QString newRegid();
    // A short id that is safe as part of an MQTT topic and an ACL line: exactly type_version_serial,
    // each part made of letters, digits and ".:?@-" (so no white space, "/", "+", "#" or "_").
    static bool isValidShortId(const QString &shortId);

private:
    QString m_path;
    QString m_error;
    qint64 m_nextSerial = 1001;
    QMap<QString, Gateway> m_gateways;
};
