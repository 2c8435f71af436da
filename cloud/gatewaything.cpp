#include "gatewaything.h"

#include "calvexcloudclient.h"
#include "deployment.h"
#include "registrationcodec.h"
#include "settingskeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int MinimumReportInterval = Key::CloudInterval.minimum();
constexpr int FirstReportDelayMs = 30000;
constexpr int FirstReportSpreadMs = 40000;

} // namespace

GatewayThing::GatewayThing(QObject *parent)
    : QAbstractThing(parent), m_client(new CalvexCloudClient(this)), m_firstReportTimer(new QTimer(this))
{
    m_firstReportTimer->setObjectName(QStringLiteral("firstReport"));
    m_firstReportTimer->setSingleShot(true);
    connect(m_firstReportTimer, &QTimer::timeout, this, &GatewayThing::reportStates);
    connect(m_client, &CalvexCloudClient::connectivityChanged, this, &GatewayThing::mqtt_connectivityChanged);
    connect(m_client, &CalvexCloudClient::messageReceived, this, &GatewayThing::mqtt_messageReceived);
    connect(m_client, &CalvexCloudClient::messagePublished, this, &GatewayThing::mqtt_messagePublished);
    connect(m_client, &CalvexCloudClient::backlogChanged, this, &GatewayThing::backlogChanged);
}

GatewayThing::~GatewayThing()
{
    stopReportTimer();
    // Siblings are not ours to delete; those parented to us go with us as children.
    for (QAbstractThing *thing : qAsConst(m_siblings))
        disconnect(thing, nullptr, this, nullptr);
    m_siblings.clear();
}

QString GatewayThing::serial() const
{
    const QString serial = QSettings().value(Key::CloudSerial).toString();
    return serial.isEmpty() ? QStringLiteral("?") : serial;
}

QJsonObject GatewayThing::state() const
{
    return {{QStringLiteral("count"), m_siblings.size()}};
}

bool GatewayThing::setState(const QJsonObject &state)
{
    Q_UNUSED(state)
    return false;
}

void GatewayThing::applyTypeSettings(const QHash<QString, QVariant> &settings)
{
    Q_UNUSED(settings)
}

void GatewayThing::statePublished() {}

void GatewayThing::setReportInterval(int seconds)
{
    if (seconds == m_reportInterval)
        return;
    m_reportInterval = qMax(seconds, MinimumReportInterval);
    if (m_reportTimer > 0) {
        killTimer(m_reportTimer);
        m_reportTimer = startTimer(m_reportInterval * 1000, Qt::CoarseTimer);
    }
}

int GatewayThing::brokerKeepAlive() const
{
    return qMin(m_keepAlive, int(std::floor(0.8 * m_reportInterval + 0.5)));
}

bool GatewayThing::connectToCloud(bool firstrun)
{
    if (regid().isEmpty() || serial().isEmpty())
        return false;
    m_firstReport = firstrun;
    const QSettings settings;
    const auto port = quint16(Key::CloudPort.read(settings).toUInt());
    const QString host = Key::CloudHost.read(settings).toString();
    return m_client->connectToBroker(cloudid(), brokerKeepAlive(), host, port);
}

void GatewayThing::disconnectFromCloud()
{
    stopReportTimer();
    m_client->stopClient();
}

bool GatewayThing::isConnected() const
{
    return m_client->connected();
}

void GatewayThing::mqtt_connectivityChanged(bool on)
{
    stopReportTimer();
    if (on) {
        m_reportTimer = startTimer(m_reportInterval * 1000, Qt::CoarseTimer);
        if (m_firstReport) {
            m_firstReportTimer->start(FirstReportDelayMs +
                                      int(QRandomGenerator::system()->bounded(FirstReportSpreadMs)));
        }
    }
    m_firstReport = false;
    emit connectivityChanged(on);
}

void GatewayThing::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_reportTimer) {
        QAbstractThing::timerEvent(event);
        return;
    }
    if (!isConnected()) {
        stopReportTimer();
        return;
    }
    reportStates();
}

void GatewayThing::reportStates()
{
    if (!isConnected())
        return;
    for (auto it = m_siblings.cbegin(); it != m_siblings.cend(); ++it) {
        const QJsonObject state = it.value()->state();
        if (!state.isEmpty())
            m_client->publish(it.key(), state);
    }
    m_client->publish(cloudid(), state());
}

void GatewayThing::sibling_stateChanged(QAbstractThing *thing, const QJsonObject &value)
{
    if (!thing->reportChanges())
        return;
    m_client->publish(thing->cloudid(), value);
}

void GatewayThing::mqtt_messageReceived(const QString &tid, const QByteArray &data)
{
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (doc.isNull())
        return;
    QAbstractThing *thing = m_siblings.value(tid);
    if (!thing)
        return;
    if (thing->setState(doc.object()))
        m_client->publish(tid, thing->state());
}

void GatewayThing::mqtt_messagePublished(const QString &tid)
{
    if (QAbstractThing *thing = m_siblings.value(tid))
        thing->statePublished();
}

bool GatewayThing::addSibling(QAbstractThing *thing)
{
    const QString cid = thing->cloudid();
    if (m_siblings.contains(cid))
        return false;
    m_siblings.insert(cid, thing);
    if (!thing->parent())
        thing->setParent(this);
    m_client->subscribe(cid);
    // A thing that reports every change may have read its first state before it was attached (a
    // restart): the cloud has not seen it, so it goes out now, or waits in the outbox while offline.
    if (isConnected() || thing->reportChanges()) {
        const QJsonObject state = thing->state();
        if (!state.isEmpty())
            m_client->publish(cid, state);
    }
    // The sibling travels with the connection (QObject::sender() would walk every sibling's).
    connect(thing, &QAbstractThing::stateChanged, this,
            [this, thing](const QJsonObject &value) { sibling_stateChanged(thing, value); });
    // Never keep a dangling sibling, whoever deletes it.
    connect(thing, &QObject::destroyed, this, &GatewayThing::sibling_destroyed);
    emit stateChanged(state());
    return true;
}

void GatewayThing::sibling_destroyed(QObject *object)
{
    for (auto it = m_siblings.begin(); it != m_siblings.end();) {
        if (it.value() == object)
            it = m_siblings.erase(it);
        else
            ++it;
    }
}

bool GatewayThing::removeSibling(const QString &cid)
{
    QAbstractThing *thing = m_siblings.take(cid);
    if (!thing)
        return false;
    if (thing->parent() == this)
        thing->deleteLater();
    m_client->unsubscribe(cid);
    disconnect(thing, nullptr, this, nullptr);
    emit stateChanged(state());
    return true;
}

bool GatewayThing::removeSibling(QAbstractThing *thing)
{
    // The table is keyed by the cloud id the thing had when it was attached; its registration id
    // may have changed since (a pool update), so look the object itself up.
    const QString cid = m_siblings.key(thing);
    if (cid.isNull())
        return false;
    return removeSibling(cid);
}

void GatewayThing::stopReportTimer()
{
    if (m_reportTimer > 0)
        killTimer(m_reportTimer);
    m_reportTimer = -1;
}

QString GatewayThing::registrationDoc(const QList<QAbstractThing *> &things) const
{
    QJsonObject doc;
    if (regid().isEmpty()) {
        doc.insert(QStringLiteral("gw"), idOf(type(), version(), QStringLiteral("?")));
        doc.insert(QStringLiteral("alias"), name());
    } else {
        doc.insert(QStringLiteral("app"), cloudid());
    }
    QJsonArray siblings;
    for (const QAbstractThing *thing : things) {
        if (thing->regid().isEmpty())
            siblings.append(QJsonArray{thing->shortid(), thing->name()});
    }
    if (!regid().isEmpty() && siblings.isEmpty())
        return QString();
    doc.insert(QStringLiteral("sib"), siblings);
    return RegistrationCodec::encode(doc);
}

bool GatewayThing::processRegistration(const QJsonObject &reply, const QList<QAbstractThing *> &things,
                                       bool attach)
{
    const QJsonArray fleet = reply.value(QStringLiteral("fleet")).toArray();

    if (reply.contains(QStringLiteral("cred"))) {
        const QStringList parts = reply.value(QStringLiteral("id")).toString().split(QLatin1Char('_'));
        if (parts.size() != 4)
            return false;
        // Credentials first: a result whose credentials do not validate must not leave the gateway
        // looking registered under an identity it cannot connect with.
        const QJsonObject cred = reply.value(QStringLiteral("cred")).toObject();
        if (!m_client->storeCredentials(cred.value(QStringLiteral("file")).toString().toLatin1(),
                                        cred.value(QStringLiteral("priv")).toString().toLatin1()))
            return false;
        setRegid(parts.at(3));
        const QString old = serial();
        QSettings().setValue(Key::CloudSerial, parts.at(2));
        emit serialChanged(old, parts.at(2));
        if (reply.contains(QStringLiteral("alias")))
            setNameNotEmpty(reply.value(QStringLiteral("alias")).toString());
    }

    applyBrokerSettings(reply);

    for (const QJsonValue &value : fleet) {
        const QJsonObject device = value.toObject();
        const QString id = device.value(QStringLiteral("id")).toString();
        for (QAbstractThing *thing : things) {
            if (!thing->matches(id))
                continue;
            thing->setRegidFromCid(id);
            thing->setNameNotEmpty(device.value(QStringLiteral("alias")).toString());
            if (attach)
                addSibling(thing);
            break;
        }
    }
    return true;
}

void GatewayThing::applyBrokerSettings(const QJsonObject &reply)
{
    QSettings settings;
    bool changed = false;
    const QString server = reply.value(QStringLiteral("server")).toString();
    if (!server.isEmpty() && server != settings.value(Key::CloudHost).toString()) {
        settings.setValue(Key::CloudHost, server);
        changed = true;
    }
    const QJsonValue portValue = reply.value(QStringLiteral("port"));
    int port = -1;
    if (portValue.isDouble() && portValue.toDouble() >= 1 && portValue.toDouble() <= 65535)
        port = portValue.toInt(-1);
    if (port != -1 && port != settings.value(Key::CloudPort, 0).toInt()) {
        settings.setValue(Key::CloudPort, port);
        changed = true;
    }
    if (changed)
        emit settingsChanged();
}

void GatewayThing::clearRegistration()
{
    setRegid(QString());
    m_client->removeCredentials();
    // The broker would refuse the old ids: what waits under them can never be delivered.
    m_client->discardBacklog();
}

void GatewayThing::credentials(QByteArray &cert, QByteArray &key) const
{
    cert = m_client->exportCertificate();
    key = m_client->exportKey();
}

bool GatewayThing::setCredentials(const QByteArray &cert, const QByteArray &key)
{
    if (!cert.isEmpty() && !m_client->importCertificate(cert))
        return false;
    if (key.isEmpty())
        return true;
    return m_client->importKey(key);
}

QStringList GatewayThing::unnamed(const QList<QAbstractThing *> &things) const
{
    QStringList ids;
    if (name().isEmpty())
        ids.append(shortid());
    for (const QAbstractThing *thing : things) {
        if (thing->name().isEmpty())
            ids.append(thing->shortid());
    }
    return ids;
}

bool GatewayThing::registeredWithAll(const QList<QAbstractThing *> &things) const
{
    return !regid().isEmpty() && std::all_of(things.cbegin(), things.cend(), [this](const QAbstractThing *t) {
        return !t->regid().isEmpty() && hasSibling(t->cloudid());
    });
}

bool GatewayThing::holdsCloudId(const QString &tid, const QList<QAbstractThing *> &things) const
{
    if (regid().isEmpty())
        return false;
    // Cheapest first: this runs for every report sent, and the gateway's own id reads the settings.
    if (hasSibling(tid))
        return true;
    const bool present = std::any_of(things.cbegin(), things.cend(), [&tid](const QAbstractThing *t) {
        return !t->regid().isEmpty() && t->cloudid() == tid;
    });
    return present || tid == cloudid();
}
