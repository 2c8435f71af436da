#include "cxgatewrunner.h"

#include "abstractthingtype.h"
#include "calvexcloudclient.h"
#include "changefeed.h"
#include "configbackup.h"
#include "cxsettings.h"
#include "devicepool.h"
#include "gatewaything.h"
#include "pluginloader.h"
#include "registrarexchange.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

CxgatewRunner::CxgatewRunner(QObject *parent, const QString &programDir)
    : QObject(parent), m_feed(new ChangeFeed(historyDirectory(), this)), m_gateway(new GatewayThing(this)),
      m_loader(new PluginLoader(this, programDir)), m_registrar(new RegistrarExchange(this))
{
    ThingState::registerMetaTypes();
    connect(m_feed, &ChangeFeed::changed, this, &CxgatewRunner::thingsChanged);
    connect(m_feed, &ChangeFeed::historyTrouble, this, &CxgatewRunner::historyTrouble);
    // Connected before anyone else listens to finished, so the waiting batch leaves first.
    connect(this, &CxgatewRunner::finished, m_feed, &ChangeFeed::flush);

    connect(m_gateway, &QAbstractThing::stateChanged, this,
            [this](const QJsonObject &state) { thing_stateChaged(m_gateway, state); });
    connect(m_gateway, &GatewayThing::connectivityChanged, this, &CxgatewRunner::connectivityChanged);
    connect(m_gateway->client(), &CalvexCloudClient::connectionFailed, this, &CxgatewRunner::cloudError);
    connect(m_gateway, &GatewayThing::backlogChanged, this, &CxgatewRunner::backlogChanged);
    m_gateway->client()->setRecipientCheck([this](const QString &tid) { return holdsCloudId(tid); });
    connect(
        m_gateway, &QAbstractThing::serialChanged, this,
        [this](const QString &old, const QString &current) { thing_serialChanged(m_gateway, old, current); });
    connect(m_gateway, &GatewayThing::settingsChanged, this, [this] {
        emit settingsUpdated();
        emit finished(SetUpdate, QVariant());
    });

    applyCloudSettings();

    connect(m_registrar, &RegistrarExchange::codeReceived, this, [this](const QJsonObject &code) {
        emit registrationCode(code);
        emit finished(RegCode, code);
    });
    connect(m_registrar, &RegistrarExchange::resultReceived, this, &CxgatewRunner::processResult);
    connect(m_registrar, &RegistrarExchange::failed, this, &CxgatewRunner::endRegistration);
}

void CxgatewRunner::flushChanges()
{
    m_feed->flush();
}

void CxgatewRunner::setReportChanges(bool on)
{
    m_reportChanges = on;
    for (QAbstractThing *thing : qAsConst(m_things))
        thing->setReportChanges(on);
}

void CxgatewRunner::setRecordingHistory(bool on)
{
    m_feed->setRecording(on);
}

QString CxgatewRunner::historyDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void CxgatewRunner::setRegistrarPatience(int firstMs, int graceMs)
{
    m_registrar->setPatience(firstMs, graceMs);
}

CxgatewRunner::~CxgatewRunner()
{
    savePool();
    m_gateway->disconnectFromCloud();
    // While the gateway is not running nothing is known of the things: the history shows a gap.
    QStringList ids{m_gateway->shortid()};
    for (QAbstractThing *thing : qAsConst(m_things)) {
        ids.append(thing->shortid());
        m_gateway->removeSibling(thing);
        delete thing;
    }
    m_things.clear();
    m_feed->recordGone(ids);
    m_feed->flush();
    delete m_feed; // writes what the history still waits for
    m_feed = nullptr;
    // Every thing is gone: the dependency libraries may shut down now.
    m_loader->deinitLibraries();
}

GatewayThing *CxgatewRunner::gateway() const
{
    Q_ASSERT_X(QThread::currentThread() == thread(), "CxgatewRunner::gateway", "worker thread only");
    return m_gateway;
}

const QList<QAbstractThing *> &CxgatewRunner::things() const
{
    Q_ASSERT_X(QThread::currentThread() == thread(), "CxgatewRunner::things", "worker thread only");
    return m_things;
}

QList<QAbstractThing *> CxgatewRunner::allThings() const
{
    QList<QAbstractThing *> all = m_things;
    all.append(m_gateway);
    return all;
}

void CxgatewRunner::savePool()
{
    DevicePool::save(allThings(), true);
}

// ---- plug-ins ----------------------------------------------------------------------------------

bool CxgatewRunner::loadPlugins()
{
    m_loader->load();
    emit finished(Load, true);
    return true;
}

QJsonObject CxgatewRunner::listPlugins()
{
    const QJsonObject list = m_loader->metadataObject();
    emit finished(Lsmod, list);
    return list;
}

void CxgatewRunner::applyCloudSettings()
{
    const QSettings settings;
    m_gateway->setReportInterval(Key::CloudInterval.read(settings).toInt());
    m_gateway->setKeepAlive(Key::CloudKeepAlive.read(settings).toInt());
}

void CxgatewRunner::applyDeviceSettings()
{
    applyCloudSettings();
    m_gateway->client()->applyOutboxSettings();
    m_loader->applyStoredSettings(m_things);
}

// ---- scanning and the live things --------------------------------------------------------------

bool CxgatewRunner::rescan()
{
    // Read once for every thing this scan adopts.
    const QList<PoolEntry> pool = DevicePool::entries();
    m_loader->createNewThings(m_things, [this, &pool](QAbstractThing *thing, QObject *ui) {
        adopt(thing, pool);
        emit deviceCreated(ui);
    });
    restoreGatewayFromPool();
    emit finished(Rescan, true);
    return true;
}

void CxgatewRunner::adopt(QAbstractThing *thing, const QList<PoolEntry> &pool)
{
    thing->setParent(this);
    m_things.append(thing);
    watch(thing);
    if (m_reportChanges)
        thing->setReportChanges(true);

    for (const PoolEntry &entry : pool) {
        if (entry.matches(thing)) {
            thing->setRegid(entry.regid);
            thing->setName(entry.alias);
            break;
        }
    }
    if (!m_gateway->regid().isEmpty() && !thing->regid().isEmpty())
        m_gateway->addSibling(thing);
    // The row appears as soon as the device is there. A device may already have read and announced
    // its state inside create(), before anyone listened: the row carries that state, and later
    // readings that equal it announce nothing.
    m_feed->announce(ThingState(thing, true));
}

void CxgatewRunner::restoreGatewayFromPool()
{
    if (!m_gateway->regid().isEmpty())
        return;
    const QList<PoolEntry> entries = DevicePool::entries();
    for (const PoolEntry &entry : entries) {
        if (entry.type != m_gateway->type() || entry.version != m_gateway->version())
            continue;
        if (m_gateway->regid().isEmpty()) {
            m_gateway->setRegid(entry.regid);
            for (QAbstractThing *thing : qAsConst(m_things)) {
                if (!thing->regid().isEmpty())
                    m_gateway->addSibling(thing);
            }
        }
        m_gateway->setName(entry.alias);
        break;
    }
}

void CxgatewRunner::watch(QAbstractThing *thing)
{
    connect(thing, &QAbstractThing::mediumGone, this, [this, thing] { thing_mediumGone(thing); });
    connect(thing, &QAbstractThing::stateChanged, this,
            [this, thing](const QJsonObject &state) { thing_stateChaged(thing, state); });
    connect(thing, &QAbstractThing::serialChanged, this,
            [this, thing](const QString &old, const QString &current) {
                thing_serialChanged(thing, old, current);
            });
}

void CxgatewRunner::thing_stateChaged(QAbstractThing *thing, const QJsonObject &state)
{
    ThingState record(thing, false);
    record.state = state;
    m_feed->announce(record);
}

void CxgatewRunner::thing_mediumGone(QAbstractThing *thing)
{
    if (!m_things.removeOne(thing))
        return;
    disconnect(thing, nullptr, this, nullptr);
    m_gateway->removeSibling(thing->cloudid());
    m_feed->announce(ThingState::goneRecord(thing));
    thing->deleteLater();
}

void CxgatewRunner::thing_serialChanged(QAbstractThing *thing, const QString &old, const QString &current)
{
    if (old == current)
        return;
    m_feed->announce(ThingState::goneRecord(thing, old));
    m_feed->announce(ThingState(thing, true));
}

ThingStateList CxgatewRunner::listThings()
{
    ThingStateList list;
    list.append(ThingState(m_gateway, true));
    for (const QAbstractThing *thing : qAsConst(m_things))
        list.append(ThingState(thing, true));
    emit finished(Lsthings, QVariant::fromValue(list));
    return list;
}

bool CxgatewRunner::releaseThings()
{
    for (QAbstractThing *thing : qAsConst(m_things)) {
        m_gateway->removeSibling(thing);
        m_feed->announce(ThingState::goneRecord(thing));
        delete thing;
    }
    m_things.clear();
    emit finished(ThingsGone, true);
    return true;
}

// ---- the device pool ---------------------------------------------------------------------------

QAbstractThing *CxgatewRunner::findThing(const QString &sid) const
{
    if (m_gateway->matches(sid))
        return m_gateway;
    for (QAbstractThing *thing : m_things) {
        if (thing->matches(sid))
            return thing;
    }
    return nullptr;
}

bool CxgatewRunner::renameThing(const QString &sid, const QString &alias)
{
    QAbstractThing *target = findThing(sid);
    if (!target) {
        fail(tr("Cannot rename %1: no such thing").arg(sid));
        emit finished(TRename, false);
        return false;
    }
    QSet<QString> taken;
    for (const QAbstractThing *thing : allThings()) {
        if (thing != target && !thing->name().isEmpty())
            taken.insert(thing->name());
    }
    if (!alias.isEmpty() && taken.contains(alias)) {
        fail(tr("Cannot rename to %1 - duplicate alias").arg(alias));
        m_feed->announce(ThingState(target, true));
        emit finished(TRename, false);
        return false;
    }
    target->setName(alias);
    savePool();
    m_feed->announce(ThingState(target, true));
    emit finished(TRename, true);
    return true;
}

void CxgatewRunner::updatePool()
{
    const QList<PoolEntry> entries = DevicePool::entries();
    m_gateway->setName(QString());
    for (QAbstractThing *thing : qAsConst(m_things))
        thing->setName(QString());

    for (const PoolEntry &entry : entries) {
        if (entry.type == m_gateway->type() && entry.version == m_gateway->version()) {
            m_gateway->setName(entry.alias);
            m_gateway->setRegid(entry.regid);
            continue;
        }
        for (QAbstractThing *thing : qAsConst(m_things)) {
            if (entry.matches(thing)) {
                thing->setName(entry.alias);
                thing->setRegid(entry.regid);
                break;
            }
        }
    }
    m_feed->announce(ThingState(m_gateway, true));
    for (const QAbstractThing *thing : qAsConst(m_things))
        m_feed->announce(ThingState(thing, true));
}

void CxgatewRunner::resetDevPool()
{
    QSet<QString> registered;
    const QList<PoolEntry> entries = DevicePool::entries();
    for (const PoolEntry &entry : entries) {
        if (!entry.regid.isEmpty())
            registered.insert(entry.registeredKey());
    }
    if (!m_gateway->regid().isEmpty() && !registered.contains(m_gateway->cloudid())) {
        resetGateway();
        return;
    }
    for (QAbstractThing *thing : qAsConst(m_things)) {
        if (thing->regid().isEmpty() || registered.contains(thing->cloudid()))
            continue;
        m_gateway->removeSibling(thing->cloudid());
        thing->setRegid(QString());
        m_feed->announce(ThingState(thing, true));
    }
}

QJsonObject CxgatewRunner::forgetPoolEntries(const QList<QJsonObject> &entries)
{
    if (DevicePool::forget(entries)) {
        resetDevPool();
        updatePool();
    }
    return DevicePool::read();
}

// ---- registration and the cloud ----------------------------------------------------------------

void CxgatewRunner::fail(const QString &text)
{
    emit failed(text);
    emit finished(Error, text);
}

void CxgatewRunner::endRegistration(const QJsonObject &result)
{
    emit registrationEnded(result);
    emit finished(ProcReg, result);
}

void CxgatewRunner::generateDoc()
{
    const QStringList unnamed = m_gateway->unnamed(m_things);
    if (!unnamed.isEmpty()) {
        emit namesNeeded(unnamed);
        emit finished(AliasFill, unnamed);
        return;
    }
    // The document is made only when no other exchange runs.
    const QJsonObject refused =
        m_registrar->start(m_registrar->isBusy() ? QString() : m_gateway->registrationDoc(m_things));
    if (!refused.isEmpty())
        endRegistration(refused);
}

void CxgatewRunner::processResult(const QJsonObject &result)
{
    if (result.contains(QStringLiteral("error"))) {
        endRegistration(result);
        return;
    }
    if (!m_gateway->processRegistration(result, m_things, true)) {
        endRegistration(RegistrarExchange::errorResult(498, tr("Reply processing error")));
        return;
    }
    QJsonObject reported = result;
    reported.remove(QStringLiteral("cred"));
    endRegistration(reported);
    savePool();
    m_feed->announce(ThingState(m_gateway, true));
    for (const QAbstractThing *thing : qAsConst(m_things)) {
        if (!thing->regid().isEmpty())
            m_feed->announce(ThingState(thing, true));
    }
    if (!m_gateway->isConnected() && !m_gateway->regid().isEmpty())
        m_gateway->connectToCloud(true);
}

CxgatewRunner::RegState CxgatewRunner::registrationState()
{
    RegState state = NotRegistered;
    if (!m_gateway->regid().isEmpty())
        state = m_gateway->registeredWithAll(m_things) ? Complete : PartiallyRegistered;
    emit finished(RegStatus, int(state));
    return state;
}

CxgatewRunner::CloudStatus CxgatewRunner::cloudStatus()
{
    const CalvexCloudClient *client = m_gateway->client();
    CloudStatus status;
    status.registered = !m_gateway->serial().isEmpty() && !m_gateway->regid().isEmpty();
    status.key = int(client->keyStatus());
    status.cert = int(client->certStatus());
    emit finished(CStatus, QJsonObject{{QStringLiteral("gw"), status.registered},
                                       {QStringLiteral("key"), status.key},
                                       {QStringLiteral("cert"), status.cert}});
    return status;
}

bool CxgatewRunner::connectToCloud(bool firstrun)
{
    if (!m_gateway->isConnected() && !m_gateway->regid().isEmpty())
        m_gateway->connectToCloud(firstrun);
    emit finished(CConnect, true);
    return true;
}

bool CxgatewRunner::reconnectCloud()
{
    if (!m_gateway->regid().isEmpty() && !m_gateway->client()->reconnectNow())
        m_gateway->connectToCloud(false);
    emit finished(CConnect, true);
    return true;
}

bool CxgatewRunner::holdsCloudId(const QString &tid)
{
    if (m_gateway->regid().isEmpty())
        return false;
    return m_gateway->holdsCloudId(tid, m_things) || DevicePool::holdsRegistered(tid);
}

bool CxgatewRunner::resetGateway()
{
    m_gateway->disconnectFromCloud();
    m_gateway->clearRegistration();
    for (QAbstractThing *thing : qAsConst(m_things)) {
        m_gateway->removeSibling(thing);
        thing->setRegid(QString());
    }
    CXSettings().resetRegistration();
    cloudStatus();
    emit finished(DUnreg, true);
    return true;
}

// ---- configuration backup ----------------------------------------------------------------------

bool CxgatewRunner::exportSettings(const QString &file)
{
    const QString error = ConfigBackup::write(file, m_gateway);
    if (!error.isEmpty())
        fail(error);
    emit finished(SExport, error.isEmpty());
    return error.isEmpty();
}

bool CxgatewRunner::importSettings(const QString &file)
{
    const QString error =
        ConfigBackup::restore(file, m_gateway, [this] { m_feed->announce(ThingState(m_gateway, false)); });
    if (!error.isEmpty()) {
        fail(error);
        emit finished(SImport, false);
        return false;
    }
    updatePool();
    emit finished(SImport, true);
    return true;
}
