#pragma once

#include "outbox.h"
#include "thingstate.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QVariant>

class AbstractThingType;
class ChangeFeed;
class GatewayThing;
class PluginLoader;
class QAbstractThing;
class RegistrarExchange;
struct PoolEntry;

// The worker that does the gateway's real work off the user-interface thread. It lives on its own
// thread (see RunnerHost, which owns both); every request is a queued slot invocation answered by
// exactly one finished(op, result) (an Error result, when there is one, comes first) and returns its
// typed result, plus unsolicited thingsChanged, connectivityChanged and deviceCreated signals.
class CxgatewRunner : public QObject
{
    Q_OBJECT

public:
    enum Operation {
        Load = 0,
        Rescan,
        RegCode,
        ProcReg,
        Lsmod,
        Lsthings,
        CConnect,
        TRename,
        CStatus,
        DUnreg,
        AliasFill,
        Error,
        SExport,
        SImport,
        SetUpdate,
        ThingsGone,
        RegStatus,
    };
    Q_ENUM(Operation)

    enum RegState { NotRegistered = 0, PartiallyRegistered, Complete };
    Q_ENUM(RegState)

    // programDir overrides where the plug-ins and libraries are looked for (tests, tools);
    // empty means the running program's own directory.
    explicit CxgatewRunner(QObject *parent = nullptr, const QString &programDir = QString());
    ~CxgatewRunner() override;

    // Worker thread only (from a slot or RunnerHost::post): the gateway thing and the live device
    // things belong to the worker and change under any other thread. Checked in debug builds.
    GatewayThing *gateway() const;
    const QList<QAbstractThing *> &things() const;
    // Hands over the changes that wait (see thingsChanged). RunnerHost calls it before each completion.
    void flushChanges();
    // Whether the things' states go into the local history (on unless switched off, e.g. to measure
    // what it costs).
    void setRecordingHistory(bool on);
    // The directory holding "history.db", for the window's and the export's readers.
    static QString historyDirectory();

    // How long a registration waits for the registrar: firstMs for its code, then the code's own
    // validity plus graceMs for the result. Defaults: one minute, and thirty seconds.
    void setRegistrarPatience(int firstMs, int graceMs);

    // The credentials and the registration as the cloud page shows them.
    struct CloudStatus
    {
        bool registered = false; // the gateway holds a serial and a registration id
        int key = 1;             // CalvexCloudClient::SSLStatus of the key file
        int cert = 1;            // and of the certificate file
    };

    // The operations. Each runs on the worker thread (queued by RunnerHost::call), announces its end
    // with finished(op, result) as the headless program prints it, and returns its result for the
    // caller's completion. Failures go to failed(text) first (and to finished(Error, text)).
    bool loadPlugins();
    bool rescan();
    void updatePool();
    void applyDeviceSettings();
    // Starts a registration: names missing ask namesNeeded (AliasFill); otherwise the registrar's
    // code arrives as registrationCode (RegCode) and its outcome as registrationEnded (ProcReg).
    void generateDoc();
    QJsonObject listPlugins();
    ThingStateList listThings();
    bool connectToCloud(bool firstrun);
    // Drops a connection that may be dead (after a suspend) and connects again at once, without
    // waiting for the next automatic retry. Answered as CConnect.
    bool reconnectCloud();
    bool renameThing(const QString &sid, const QString &alias);
    // Every thing, present and adopted later, reports each change at once (from its first reading).
    void setReportChanges(bool on);
    CloudStatus cloudStatus();
    bool resetGateway();
    // Takes registrations the stored pool no longer holds away from the live things.
    void resetDevPool();
    bool releaseThings();
    RegState registrationState();
    bool exportSettings(const QString &file);
    bool importSettings(const QString &file);
    // Drops these entries (as DevicePool::read gives them) from the pool and takes the pool over: things
    // whose registration went with them need registering again. Returns the new pool.
    QJsonObject forgetPoolEntries(const QList<QJsonObject> &entries);

signals:
    void finished(int op, const QVariant &result);
    // The things' new states and the rows that went, in order, a batch per turn of the worker's event
    // loop; a batch waiting is handed over before any finished(), so a completion never overtakes the
    // changes made before it.
    void thingsChanged(const ThingStateList &batch);
    // The local history could not be kept as it should (file set aside, disk full): said once each.
    void historyTrouble(const QString &text);
    void connectivityChanged(bool on);
    // Why the cloud connection failed, once per change of reason (see CalvexCloudClient).
    void cloudError(const QString &text);
    void deviceCreated(QObject *thui);
    // The reports waiting for the cloud (see CalvexCloudClient::backlogChanged).
    void backlogChanged(const OutboxBacklog &backlog);
    // An operation failed; the text is for the user, plain text.
    void failed(const QString &text);
    // The cloud changed the gateway's settings (SetUpdate).
    void settingsUpdated();
    void namesNeeded(const QStringList &shortids);
    void registrationCode(const QJsonObject &code);
    void registrationEnded(const QJsonObject &result);

private:
    // The thing is passed along by the connection: QObject::sender() walks every connection of the
    // receiver, which costs a thousand steps per reading with a thousand things.
    void watch(QAbstractThing *thing);
    // The cloud keys the gateway thing takes: report interval and keep-alive.
    void applyCloudSettings();
    void thing_stateChaged(QAbstractThing *thing, const QJsonObject &state);
    void thing_mediumGone(QAbstractThing *thing);
    void thing_serialChanged(QAbstractThing *thing, const QString &old, const QString &current);
    void adopt(QAbstractThing *thing, const QList<PoolEntry> &pool);
    void restoreGatewayFromPool();
    void savePool();
    QList<QAbstractThing *> allThings() const;
    QAbstractThing *findThing(const QString &sid) const;
    void processResult(const QJsonObject &result);
    // Whether the gateway still holds a cloud id: its own, a live thing's, or a registered device
    // of the pool that is not attached now.
    bool holdsCloudId(const QString &tid);
    void fail(const QString &text);
    void endRegistration(const QJsonObject &result);

    ChangeFeed *m_feed = nullptr;
    bool m_reportChanges = false;
    GatewayThing *m_gateway = nullptr;
    QList<QAbstractThing *> m_things;
    PluginLoader *m_loader = nullptr;
    RegistrarExchange *m_registrar = nullptr;
};
