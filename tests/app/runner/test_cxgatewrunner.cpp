#include "appidentity.h"
#include "devicepool.h"
#include "poolfixture.h"
#include "runnerharness.h"
#include "settingskeys.h"
#include "simulatedhidbus.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTest>

#include <memory>

namespace {

using namespace PoolFixture;

const QString Sensor1 = QStringLiteral("thx9_100_S1");
const QString Sensor2 = QStringLiteral("thx9_100_S2");
const QString Watchdog1 = QStringLiteral("watchdog_100_W1");
const QString Gateway = QStringLiteral("gateway_200_?");

QStringList shortids(const ThingStateList &list)
{
    QStringList ids;
    for (const ThingState &t : list)
        ids.append(t.shortid);
    return ids;
}

} // namespace

class TestCxgatewRunner : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SimulatedHidBus> m_bus;
    std::unique_ptr<RunnerHarness> m_harness;

    RunnerHarness &start()
    {
        m_harness = std::make_unique<RunnerHarness>();
        if (!m_harness->request(&CxgatewRunner::loadPlugins, CxgatewRunner::Load).toBool())
            qFatal("plug-ins did not load");
        return *m_harness;
    }
    bool rescan() { return m_harness->request(&CxgatewRunner::rescan, CxgatewRunner::Rescan).toBool(); }

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        ThingState::registerMetaTypes();
        m_bus = std::make_unique<SimulatedHidBus>();
        QVERIFY2(m_bus->isActive(), "the umockdev preload is not active");
    }

    void init() { QSettings().clear(); }

    void cleanup()
    {
        m_harness.reset();
        for (SimulatedHidDevice *device : m_bus->devices())
            m_bus->unplug(device->serial());
    }

    void listsPluginsAndStartsEmpty()
    {
        RunnerHarness &h = start();
        const QJsonObject plugins =
            h.request(&CxgatewRunner::listPlugins, CxgatewRunner::Lsmod).toJsonObject();
        QCOMPARE(plugins.keys(), QStringList({"thx9", "watchdog"}));
        QCOMPARE(plugins.value("thx9").toObject().value("version").toString(), QStringLiteral("100"));
        const ThingStateList things = h.things();
        QCOMPARE(shortids(things), QStringList{Gateway});
        QCOMPARE(things.first().state, QJsonObject({{"count", 0}}));
    }

    void scanCreatesThingsAndRelaysTheirStates()
    {
        m_bus->plugSensor("S1");
        SimulatedHidDevice *watchdog = m_bus->plugWatchdog("W1");
        watchdog->setWatchdogStatus(0x10, 0x00, 3, 0x15, 0x88, 0x13);
        RunnerHarness &h = start();
        QVERIFY(rescan());
        QCOMPARE(h.devicesCreated(), 2);
        QStringList ids = shortids(h.things());
        QCOMPARE(ids.takeFirst(), Gateway);
        ids.sort();
        QCOMPARE(ids, QStringList({Sensor1, Watchdog1}));

        // A reading arrives as a row with the state; the watchdog's first poll as well.
        m_bus->device("S1")->injectTemperature(21.34);
        QVERIFY(h.waitForRow(Sensor1, [](const ThingState &t) {
            return t.state == QJsonObject{{"t", 21.5}};
        }));
        QVERIFY(h.waitForRow(Watchdog1, [](const ThingState &t) {
            return t.state.value("ch3").toDouble() == 21.5 && t.state.value("flags").toInt() == 1;
        }));
        QVERIFY(watchdog->waitForOutputs(1, 10000));
        QCOMPARE(watchdog->takeOutputs().first(), QByteArray("\x01\x01", 2));

        // A live device is not created twice; a second sensor is.
        m_bus->plugSensor("S2");
        QVERIFY(rescan());
        QCOMPARE(h.devicesCreated(), 3);
        QCOMPARE(h.things().size(), 4);
        QVERIFY(shortids(h.things()).contains(Sensor2));
    }

    void unpluggedThingLeavesAndComesBackFromThePool_data()
    {
        QTest::addColumn<bool>("sensor");
        QTest::newRow("sensor") << true;
        QTest::newRow("watchdog") << false;
    }
    void unpluggedThingLeavesAndComesBackFromThePool()
    {
        QFETCH(bool, sensor);
        const QString serial = sensor ? QStringLiteral("S1") : QStringLiteral("W1");
        const QString sid = sensor ? Sensor1 : Watchdog1;
        const auto plug = [&] {
            if (sensor) // a temperature that never changes: the reading waits when the device is opened
                m_bus->plugSensor(serial)->injectTemperature(21.5);
            else
                m_bus->plugWatchdog(serial)->setWatchdogStatus(0x10, 0x00, 3, 0x15, 0x88, 0x13);
        };
        const QJsonObject state =
            sensor ? QJsonObject{{"t", 21.5}} : QJsonObject{{"flags", 1}, {"ch3", 21.5}};
        storePool({entry(sensor ? "thx9" : "watchdog", "100", serial, "77", "Boiler")});
        plug();
        RunnerHarness &h = start();
        QVERIFY(rescan());
        // The scan itself announces the row, with the alias and registration from the pool.
        QCOMPARE(h.rowsOf(sid).size(), 1);
        QCOMPARE(h.rowsOf(sid).first().name, QStringLiteral("Boiler"));
        QCOMPARE(h.rowsOf(sid).first().regid, QStringLiteral("77"));
        QVERIFY(h.waitForRow(sid, [&](const ThingState &t) { return t.state == state; }));

        // A rename is saved into the pool at once.
        QVERIFY(h.request(&CxgatewRunner::renameThing, CxgatewRunner::TRename, sid, QStringLiteral("Cellar"))
                    .toBool());

        h.clearRecords();
        m_bus->unplug(serial);
        QVERIFY(h.waitForRow(sid, [](const ThingState &t) { return t.gone; }));
        h.sync();
        QTest::qWait(sensor ? 1500 : 3000); // further poll ticks must not announce it again
        QCOMPARE(h.rowsOf(sid).size(), 1);
        QVERIFY(h.rowsOf(sid).first().state.isEmpty());
        QCOMPARE(shortids(h.things()), QStringList{Gateway});

        // Plugged again with nothing changed: the row is back within the scan, the sensor's with
        // the reading it had waiting, the watchdog's empty until its first poll.
        h.clearRecords();
        plug();
        QVERIFY(rescan());
        QCOMPARE(h.rowsOf(sid).size(), 1);
        const ThingState row = h.rowsOf(sid).first();
        QVERIFY(!row.gone);
        QCOMPARE(row.name, QStringLiteral("Cellar"));
        QCOMPARE(row.regid, QStringLiteral("77"));
        QCOMPARE(row.state, sensor ? state : QJsonObject());
        QVERIFY(h.waitForRow(sid, [&](const ThingState &t) { return t.state == state; }));
    }

    void disabledTypeIsNotScanned()
    {
        QSettings().setValue("Plugins/watchdog/enabled", false);
        m_bus->plugSensor("S1");
        m_bus->plugWatchdog("W1");
        RunnerHarness &h = start();
        QVERIFY(rescan());
        QCOMPARE(shortids(h.things()), QStringList({Gateway, Sensor1}));
    }

    void renameRules()
    {
        m_bus->plugSensor("S1");
        m_bus->plugWatchdog("W1");
        RunnerHarness &h = start();
        QVERIFY(rescan());
        const auto rename = [&h](const QString &sid, const QString &alias) {
            return h.request(&CxgatewRunner::renameThing, CxgatewRunner::TRename, sid, alias);
        };
        QVERIFY(rename(Sensor1, "Boiler").toBool());
        QVERIFY(rename(Sensor1, "Boiler").toBool()); // its own alias again
        QVERIFY(rename(Gateway, "Office").toBool());

        h.clearRecords();
        QVERIFY(!rename(Watchdog1, "Boiler").toBool());
        QCOMPARE(h.resultsOf(CxgatewRunner::Error),
                 QList<QVariant>{QStringLiteral("Cannot rename to Boiler - duplicate alias")});
        QCOMPARE(h.completions().first().first, int(CxgatewRunner::Error));
        // The row is sent back unchanged so that an edited view reverts.
        QCOMPARE(h.rowsOf(Watchdog1).size(), 1);
        QCOMPARE(h.rowsOf(Watchdog1).first().name, QString());
        QVERIFY(!rename(Watchdog1, "Office").toBool());

        h.clearRecords();
        QVERIFY(!rename("thx9_100_NOPE", "X").toBool());
        QCOMPARE(h.resultsOf(CxgatewRunner::Error),
                 QList<QVariant>{QStringLiteral("Cannot rename thx9_100_NOPE: no such thing")});

        // The empty alias always succeeds and clears the name.
        QVERIFY(rename(Sensor1, "").toBool());
        QVERIFY(rename(Watchdog1, "Boiler").toBool());
        QCOMPARE(find(h.things(), Watchdog1).name, QStringLiteral("Boiler"));
    }

    void poolIsCleanedAndKeepsNonAsciiAliases()
    {
        storePool({entry("gateway", "200", "1", "5", "Old"), entry("thx9", "100", "?", "", "ghost"),
                   entry("thx9", "100", "GONE", "3", "Attic"), entry("gateway", "200", "2", "6", "Older")});
        m_bus->plugSensor("S1");
        RunnerHarness &h = start();
        QVERIFY(rescan());
        const QString alias = QStringLiteral("Котельная 21°C");
        QVERIFY(h.request(&CxgatewRunner::renameThing, CxgatewRunner::TRename, Sensor1, alias).toBool());

        // Stored one byte per character: the raw value is the UTF-8 of the JSON read as Latin-1.
        const QString raw = QSettings().value(Key::DevicesPool).toString();
        QVERIFY(raw.contains(QString::fromLatin1(alias.toUtf8())));
        const QJsonArray devices = DevicePool::read().value("devices").toArray();
        QCOMPARE(devices.size(), 3);
        QCOMPARE(devices.at(0).toObject().value("serial").toString(), QStringLiteral("GONE"));
        QCOMPARE(devices.at(1).toObject(), entry("thx9", "100", "S1", "", alias));
        // One gateway entry, the live gateway's, last. The first gateway entry of the pool gave it
        // its registration and name during the scan.
        QCOMPARE(devices.at(2).toObject().value("type").toString(), QStringLiteral("gateway"));
        QCOMPARE(devices.at(2).toObject().value("regid").toString(), QStringLiteral("5"));
        QCOMPARE(devices.at(2).toObject().value("alias").toString(), QStringLiteral("Old"));

        // A new runner reads the alias back unchanged.
        m_harness.reset();
        RunnerHarness &again = start();
        QVERIFY(rescan());
        QCOMPARE(find(again.things(), Sensor1).name, alias);
    }

    void unreadablePoolsReadAsEmpty_data()
    {
        QTest::addColumn<QString>("pool");
        QTest::newRow("not json") << "{devices: [";
        QTest::newRow("array") << "[1, 2]";
        QTest::newRow("devices not an array") << "{\"devices\": 5}";
        QTest::newRow("entries of wrong types")
            << "{\"devices\": [5, \"x\", {\"type\": 1, \"serial\": [\"S1\"]}]}";
    }
    void unreadablePoolsReadAsEmpty()
    {
        QFETCH(QString, pool);
        QSettings().setValue(Key::DevicesPool, pool);
        m_bus->plugSensor("S1");
        RunnerHarness &h = start();
        QVERIFY(rescan());
        QCOMPARE(find(h.things(), Sensor1).name, QString());
        QVERIFY(h.request(&CxgatewRunner::renameThing, CxgatewRunner::TRename, Sensor1, "Boiler").toBool());
        const QJsonDocument doc =
            QJsonDocument::fromJson(QSettings().value(Key::DevicesPool).toString().toLatin1());
        QVERIFY(doc.isObject());
        QVERIFY(doc.object().value("devices").isArray());
    }

    void updatePoolAndResetDevPool()
    {
        QSettings().setValue(Key::CloudSerial, "5521");
        storePool(
            {entry("thx9", "100", "S1", "77", "Boiler"), entry("gateway", "200", "5521", "9", "Office")});
        m_bus->plugSensor("S1");
        RunnerHarness &h = start();
        QVERIFY(rescan());
        QCOMPARE(find(h.things(), Gateway.left(12) + "5521").regid, QStringLiteral("9"));
        QVERIFY(h.request(&CxgatewRunner::registrationState, CxgatewRunner::RegStatus).toInt() ==
                CxgatewRunner::Complete);

        // The editor forgot the sensor's registration: updatePool unregisters it, resetDevPool
        // detaches it.
        storePool({entry("thx9", "100", "S1", "", "Boiler"), entry("gateway", "200", "5521", "9", "Office")});
        h.clearRecords();
        h.post(&CxgatewRunner::updatePool);
        QCOMPARE(h.rows().size(), 2);
        QCOMPARE(h.rows().at(0).shortid, QStringLiteral("gateway_200_5521"));
        QCOMPARE(find(h.things(), Sensor1).regid, QString());
        QCOMPARE(h.request(&CxgatewRunner::registrationState, CxgatewRunner::RegStatus).toInt(),
                 int(CxgatewRunner::PartiallyRegistered));

        // The gateway's own entry vanished: the whole gateway is reset.
        storePool({entry("thx9", "100", "S1", "77", "Boiler")});
        h.clearRecords();
        h.post(&CxgatewRunner::resetDevPool);
        const QJsonObject status = h.waitForCompletion(CxgatewRunner::CStatus).toJsonObject();
        QCOMPARE(status.value("gw").toBool(), false);
        QCOMPARE(status.value("key").toInt(), 1);
        QCOMPARE(status.value("cert").toInt(), 1);
        QVERIFY(h.waitForCompletion(CxgatewRunner::DUnreg).toBool());
        QCOMPARE(QSettings().value(Key::CloudSerial).toString(), QString());
        QCOMPARE(h.request(&CxgatewRunner::registrationState, CxgatewRunner::RegStatus).toInt(),
                 int(CxgatewRunner::NotRegistered));
    }

    void releaseAndShutdownSaveThePool()
    {
        m_bus->plugSensor("S1");
        m_bus->plugWatchdog("W1");
        RunnerHarness &h = start();
        QVERIFY(rescan());
        QVERIFY(h.request(&CxgatewRunner::releaseThings, CxgatewRunner::ThingsGone).toBool());
        QCOMPARE(h.rowsOf(Sensor1).last().gone, true);
        QCOMPARE(h.rowsOf(Watchdog1).last().gone, true);
        QCOMPARE(shortids(h.things()), QStringList{Gateway});
        // Devices are found again, and the pool is written when the runner goes.
        QVERIFY(rescan());
        QCOMPARE(h.things().size(), 3);
        m_harness.reset();
        const QJsonArray devices = DevicePool::read().value("devices").toArray();
        QCOMPARE(devices.size(), 3);
        QCOMPARE(devices.last().toObject().value("type").toString(), QStringLiteral("gateway"));
    }
};

QTEST_GUILESS_MAIN(TestCxgatewRunner)
#include "test_cxgatewrunner.moc"
