#include "fleetstore.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace {
constexpr int RegidLength = 8;
constexpr int MaxShortIdLength = 128;
constexpr char GatewayPrefix[] = "gateway_200_";
} // namespace

FleetStore::FleetStore(const QString &path) : m_path(path) {}

bool FleetStore::load()
{
    m_gateways.clear();
    if (!QFileInfo::exists(m_path))
        return true;
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read %1").arg(m_path);
        return false;
    }
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (!doc.isObject()) {
        m_error = QStringLiteral("%1 is not a registry: %2").arg(m_path, err.errorString());
        return false;
    }
    const QJsonObject root = doc.object();
    m_nextSerial = qMax<qint64>(1001, root.value(QLatin1String("nextSerial")).toVariant().toLongLong());
    const QJsonObject gws = root.value(QLatin1String("gateways")).toObject();
    for (auto it = gws.begin(); it != gws.end(); ++it) {
        const QJsonObject o = it.value().toObject();
        Gateway gw;
        gw.id = it.key();
        gw.alias = o.value(QLatin1String("alias")).toString();
        for (const QJsonValue &v : o.value(QLatin1String("devices")).toArray()) {
            const QJsonObject d = v.toObject();
            const QString id = d.value(QLatin1String("id")).toString();
            if (!id.isEmpty())
                gw.devices.append({id, d.value(QLatin1String("alias")).toString()});
        }
        m_gateways.insert(gw.id, gw);
    }
    return true;
}

bool FleetStore::save()
{
    QJsonObject gws;
    for (const Gateway &gw : qAsConst(m_gateways))
        gws.insert(gw.id, QJsonObject{{QStringLiteral("alias"), gw.alias},
                                      {QStringLiteral("devices"), fleetJson(gw)}});
    const QJsonObject root{{QStringLiteral("nextSerial"), double(m_nextSerial)},
                           {QStringLiteral("gateways"), gws}};
    QSaveFile f(m_path);
    const QByteArray data = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
        m_error = QStringLiteral("cannot write %1").arg(m_path);
        return false;
    }
    return true;
}

QString FleetStore::newGatewayId()
{
    // Serials are never reused, also across restarts: the counter is saved with the registry.
    return QLatin1String(GatewayPrefix) + QString::number(m_nextSerial++) + QLatin1Char('_') + newRegid();
}

QList<FleetStore::Device> FleetStore::issueDevices(Gateway *gw, const QList<QPair<QString, QString>> &sib)
{
    QList<Device> issued;
    for (const auto &entry : sib) {
        const QString prefix = entry.first + QLatin1Char('_');
        // The gateway asks again for a device it forgot (reset or new pool): the old identity goes.
        gw->devices.erase(std::remove_if(gw->devices.begin(), gw->devices.end(),
                                         [&](const Device &d) { return d.id.startsWith(prefix); }),
                          gw->devices.end());
        issued.erase(std::remove_if(issued.begin(), issued.end(),
                                    [&](const Device &d) { return d.id.startsWith(prefix); }),
                     issued.end());
        issued.append({prefix + newRegid(), entry.second});
    }
    gw->devices.append(issued);
    return issued;
}

QJsonArray FleetStore::fleetJson(const Gateway &gw)
{
    QJsonArray out;
    for (const Device &d : gw.devices)
        out.append(QJsonObject{{QStringLiteral("id"), d.id}, {QStringLiteral("alias"), d.alias}});
    return out;
}

QString FleetStore::newRegid()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString id;
    for (int i = 0; i < RegidLength; ++i)
        id.append(QLatin1Char(alphabet[QRandomGenerator::system()->bounded(int(sizeof alphabet - 1))]));
    return id;
}

bool FleetStore::isValidShortId(const QString &shortId)
{
    // Type and version hold no "_"; the serial is whatever the device reports, "_" included. Only
    // what would widen or break a topic or an ACL line is refused: "/", "+", "#", white space and
    // control characters.
    static const QRegularExpression re(QRegularExpression::anchoredPattern(
        QStringLiteral("[^_/+#\\s\\p{Cc}]+_[^_/+#\\s\\p{Cc}]+_[^/+#\\s\\p{Cc}]+")));
    return shortId.size() <= MaxShortIdLength && re.match(shortId).hasMatch();
}
