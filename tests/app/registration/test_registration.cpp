#include "appidentity.h"
#include "calvexcloudclient.h"
#include "devcloudprocess.h"
#include "devicepool.h"
#include "eventwait.h"
#include "gatewaything.h"
#include "httptestserver.h"
#include "mosquittosubscriber.h"
#include "poolfixture.h"
#include "runnerharness.h"
#include "settingskeys.h"
#include "simulatedhidbus.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using namespace PoolFixture;

const QString Sensor1 = QStringLiteral("thx9_100_S1");
const QString Sensor2 = QStringLiteral("thx9_100_S2");
const QString Watchdog1 = QStringLiteral("watchdog_100_W1");

QString cloudId(const ThingState &t)
{
    return t.shortid + QLatin1Char('_') + t.regid;
}

} // namespace

class TestRegistration : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimulatedHidBus> m_bus;
    std::unique_ptr<RunnerHarness> m_harness;

    RunnerHarness &startRunner()
    {
        m_harness = std::make_unique<RunnerHarness>();
        m_harness->request(&CxgatewRunner::loadPlugins, CxgatewRunner::Load);
        m_harness->request(&CxgatewRunner::rescan, CxgatewRunner::Rescan);
        return *m_harness;
    }

    void nameEverything(RunnerHarness &h, const QStringList &shortids)
    {
        for (const QString &sid : shortids) {
            const QString alias = sid.startsWith("gateway") ? QStringLiteral("Office") : sid.section('_', 2);
            QVERIFY(h.request(&CxgatewRunner::renameThing, CxgatewRunner::TRename, sid, alias).toBool());
        }
    }

    // generateDoc until the registrar answers with a code (naming things first when asked).
    QJsonObject requestCode(RunnerHarness &h)
    {
        const int start = h.completions().size();
        h.host().call(&CxgatewRunner::generateDoc);
        h.sync();
        const QVariant fill = h.waitForCompletion(CxgatewRunner::AliasFill, start, 200);
        if (fill.isValid()) {
            nameEverything(h, fill.toStringList());
            return requestCode(h);
        }
        return h.waitForCompletion(CxgatewRunner::RegCode, start).toJsonObject();
    }

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        m_bus = std::make_unique<SimulatedHidBus>();
        QVERIFY2(m_bus->isActive(), "the umockdev preload is not active");
    }

    void init()
    {
        QSettings().clear();
        CalvexCloudClient().removeCredentials();
    }

    void cleanup()
    {
        m_harness.reset();
        for (SimulatedHidDevice *device : m_bus->devices())
            m_bus->unplug(device->serial());
    }

    void registerUseAndReset()
    {
        QTemporaryDir data;
        DevCloudProcess cloud;
        QVERIFY2(cloud.start(data.path()), qPrintable(cloud.diagnostics()));
        cloud.pointGatewayHere();
        QSettings().setValue("Plugins/watchdog/rst", true);

        m_bus->plugSensor("S1")->injectTemperature(21.3);
        SimulatedHidDevice *watchdog = m_bus->plugWatchdog("W1");
        RunnerHarness &h = startRunner();

        // Unnamed things are named first, the gateway before the devices.
        QVariant fill = h.request(&CxgatewRunner::generateDoc, CxgatewRunner::AliasFill);
        QStringList unnamed = fill.toStringList();
        QCOMPARE(unnamed.value(0), QStringLiteral("gateway_200_?"));
        unnamed.sort();
        QCOMPARE(unnamed, QStringList({"gateway_200_?", Sensor1, Watchdog1}));
        nameEverything(h, fill.toStringList());

        const QJsonObject code = requestCode(h);
        QVERIFY2(code.value("value").toInt() >= 100000, qPrintable(cloud.diagnostics()));
        QVERIFY(code.value("timeout").toInt() > 0);

        // A second request while the first waits for the user is refused.
        h.clearRecords();
        QCOMPARE(h.request(&CxgatewRunner::generateDoc, CxgatewRunner::ProcReg).toJsonObject(),
                 QJsonObject({{"code", 409}, {"error", "Busy with another request"}}));

        h.clearRecords();
        QVERIFY(cloud.confirm(QString::number(code.value("value").toInt())));
        const QJsonObject result = h.waitForCompletion(CxgatewRunner::ProcReg, 0, 30000).toJsonObject();
        QVERIFY2(!result.contains("error"), qPrintable(QJsonDocument(result).toJson()));
        QVERIFY(!result.contains("cred"));
        QVERIFY(result.value("id").toString().startsWith("gateway_200_"));
        QCOMPARE(result.value("fleet").toArray().size(), 2);

        const QJsonObject status =
            h.request(&CxgatewRunner::cloudStatus, CxgatewRunner::CStatus).toJsonObject();
        QCOMPARE(status, QJsonObject({{"gw", true}, {"key", 0}, {"cert", 0}}));
        QCOMPARE(h.request(&CxgatewRunner::registrationState, CxgatewRunner::RegStatus).toInt(),
                 int(CxgatewRunner::Complete));
        QVERIFY(waitUntil([&] { return h.connectivity().contains(true); }, 30000));

        const ThingStateList things = h.things();
        const ThingState sensor = find(things, Sensor1);
        const ThingState wd = find(things, Watchdog1);
        QVERIFY(!sensor.regid.isEmpty() && !wd.regid.isEmpty());
        QCOMPARE(sensor.name, QStringLiteral("S1"));
        // The pool holds the registrations.
        const QJsonArray pool = DevicePool::read().value("devices").toArray();
        QVERIFY(std::any_of(pool.begin(), pool.end(), [&](const QJsonValue &e) {
            return e.toObject().value("serial") == "S1" && e.toObject().value("regid") == sensor.regid;
        }));

        // The console sees the sensor's state as compact JSON on its cloud id's topic.
        MosquittoSubscriber states(cloud.consoleArguments(), "things/+/state");
        QVERIFY2(states.waitForSubscribed(), qPrintable(states.transcript()));
        h.host().post([](CxgatewRunner *runner) { runner->gateway()->reportStates(); });
        const QString sensorLine = QStringLiteral("things/%1/state {\"t\":21.5}").arg(cloudId(sensor));
        QVERIFY2(waitUntil([&] { return states.lines().contains(sensorLine); }, 10000),
                 qPrintable(states.lines().join('\n')));

        // The cloud resets the watchdog: it receives output report 01 02 when "rst" is allowed...
        watchdog->takeOutputs();
        QVERIFY(cloud.publish(QStringLiteral("things/%1/update").arg(cloudId(wd)), "{\"rst\":1}"));
        QVERIFY(
            waitUntil([&] { return watchdog->takeOutputs().contains(QByteArray("\x01\x02", 2)); }, 10000));
        // ...and nothing once it is not.
        QSettings().setValue("Plugins/watchdog/rst", false);
        h.post(&CxgatewRunner::applyDeviceSettings);
        QVERIFY(cloud.publish(QStringLiteral("things/%1/update").arg(cloudId(wd)), "{\"rst\":1}"));
        QTest::qWait(3000);
        QVERIFY(!watchdog->takeOutputs().contains(QByteArray("\x01\x02", 2)));

        // Everything is registered: nothing new to register.
        h.clearRecords();
        QCOMPARE(h.request(&CxgatewRunner::generateDoc, CxgatewRunner::ProcReg).toJsonObject(),
                 QJsonObject({{"code", 400}, {"error", "No new devices to register"}}));

        // A device plugged later is registered by a second session: the fleet only.
        m_bus->plugSensor("S2");
        QVERIFY(h.request(&CxgatewRunner::rescan, CxgatewRunner::Rescan).toBool());
        QCOMPARE(h.request(&CxgatewRunner::registrationState, CxgatewRunner::RegStatus).toInt(),
                 int(CxgatewRunner::PartiallyRegistered));
        h.clearRecords();
        const QJsonObject second = requestCode(h);
        QVERIFY(cloud.confirm(QString::number(second.value("value").toInt())));
        const QJsonObject fleetOnly = h.waitForCompletion(CxgatewRunner::ProcReg, 0, 30000).toJsonObject();
        QVERIFY2(!fleetOnly.contains("error"), qPrintable(QJsonDocument(fleetOnly).toJson()));
        QVERIFY(!fleetOnly.contains("id"));
        QVERIFY(!find(h.things(), Sensor2).regid.isEmpty());
        QCOMPARE(h.request(&CxgatewRunner::registrationState, CxgatewRunner::RegStatus).toInt(),
                 int(CxgatewRunner::Complete));

        // Reset: status first, then the completion.
        h.clearRecords();
        QVERIFY(h.request(&CxgatewRunner::resetGateway, CxgatewRunner::DUnreg).toBool());
        QCOMPARE(h.completions().first().first, int(CxgatewRunner::CStatus));
        QCOMPARE(h.completions().first().second.toJsonObject(),
                 QJsonObject({{"gw", false}, {"key", 1}, {"cert", 1}}));
        QCOMPARE(h.request(&CxgatewRunner::registrationState, CxgatewRunner::RegStatus).toInt(),
                 int(CxgatewRunner::NotRegistered));
        QVERIFY(waitUntil([&] { return h.connectivity().endsWith(false); }, 10000));
    }

    void registrarFailures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QJsonObject>("expected");
        QTest::newRow("stream closed after the code")
            << "close-after-code"
            << QJsonObject{{"code", 500},
                           {"error", "Connection to the registrar service was closed unexpectedly."}};
        QTest::newRow("registrar error")
            << "error" << QJsonObject{{"code", 403}, {"error", "Registration refused"}};
        QTest::newRow("credentials that do not parse")
            << "bad-cred" << QJsonObject{{"code", 498}, {"error", "Reply processing error"}};
    }
    void registrarFailures()
    {
        QFETCH(QString, fault);
        QFETCH(QJsonObject, expected);
        QTemporaryDir data;
        DevCloudProcess cloud;
        QVERIFY2(cloud.start(data.path(), {"--fault", fault, "--auto-confirm", "100"}),
                 qPrintable(cloud.diagnostics()));
        cloud.pointGatewayHere();
        m_bus->plugSensor("S1");
        RunnerHarness &h = startRunner();
        nameEverything(h, h.request(&CxgatewRunner::generateDoc, CxgatewRunner::AliasFill).toStringList());
        h.clearRecords();
        h.host().call(&CxgatewRunner::generateDoc);
        QCOMPARE(h.waitForCompletion(CxgatewRunner::ProcReg, 0, 30000).toJsonObject(), expected);
        // Nothing registered, nothing stored, no connection, not busy any more.
        QTest::qWait(500);
        QVERIFY(h.rows().isEmpty());
        QVERIFY(h.connectivity().isEmpty());
        const QJsonObject status =
            h.request(&CxgatewRunner::cloudStatus, CxgatewRunner::CStatus).toJsonObject();
        QCOMPARE(status, QJsonObject({{"gw", false}, {"key", 1}, {"cert", 1}}));
        h.clearRecords();
        h.host().call(&CxgatewRunner::generateDoc);
        QVERIFY(h.waitForCompletion(CxgatewRunner::ProcReg, 0, 30000).toJsonObject().value("code") != 409);
    }

    // A broker that refuses the registered gateway says why, once, and the client stops trying.
    void brokerRefusalIsNamed()
    {
        QTemporaryDir data;
        DevCloudProcess cloud;
        QVERIFY2(cloud.start(data.path(), {"--fault", "broker-refuses", "--auto-confirm", "100"}),
                 qPrintable(cloud.diagnostics()));
        cloud.pointGatewayHere();
        RunnerHarness &h = startRunner();
        QStringList errors;
        connect(&h.host(), &RunnerHost::cloudError, this, [&](const QString &text) { errors << text; });
        nameEverything(h, h.request(&CxgatewRunner::generateDoc, CxgatewRunner::AliasFill).toStringList());
        h.clearRecords();
        h.host().call(&CxgatewRunner::generateDoc);
        QVERIFY(!h.waitForCompletion(CxgatewRunner::ProcReg, 0, 30000).toJsonObject().contains("error"));
        QVERIFY2(waitUntil([&] { return !errors.isEmpty(); }, 20000), qPrintable(cloud.diagnostics()));
        QTest::qWait(1500);
        QCOMPARE(errors, QStringList{"not authorized"});
        QVERIFY(!h.connectivity().contains(true));
    }

    // A registrar that answers nonsense or falls silent still ends the exchange, and the stream.
    void misbehavingRegistrar_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("code");
        const QByteArray code = "event: code\ndata: {\"value\": 123456, \"timeout\": 1}\n\n";
        QTest::newRow("result that is no JSON object") << code + "event: result\ndata: {\"id\n\n" << 498;
        QTest::newRow("silent after the code") << code << 504;
        // An error the registrar cannot say in JSON is still an error, never a success.
        QTest::newRow("error that is no JSON") << code + "event: error\ndata: <b>down</b>\n\n" << 502;
        QTest::newRow("error without its text") << code + "event: error\ndata: {\"code\": 7}\n\n" << 502;
        QTest::newRow("silent from the start") << QByteArray(": hello\n") << 504;
    }
    void misbehavingRegistrar()
    {
        QFETCH(QByteArray, stream);
        QFETCH(int, code);
        HttpTestServer registrar;
        QVERIFY(registrar.start());
        registrar.setFallback(HttpScriptedResponse::eventStream().send(stream).keepingOpen());
        QSettings().setValue(Key::WebRegEndpoint, registrar.url("/iot/register").toString());
        RunnerHarness &h = startRunner();
        h.host().post([](CxgatewRunner *runner) { runner->setRegistrarPatience(1000, 500); });
        nameEverything(h, h.request(&CxgatewRunner::generateDoc, CxgatewRunner::AliasFill).toStringList());
        h.clearRecords();
        h.host().call(&CxgatewRunner::generateDoc);
        QCOMPARE(h.waitForCompletion(CxgatewRunner::ProcReg, 0, 10000).toJsonObject().value("code").toInt(),
                 code);
        QTRY_COMPARE(registrar.openConnections(), 0);
        h.clearRecords();
        h.host().call(&CxgatewRunner::generateDoc);
        QCOMPARE(h.waitForCompletion(CxgatewRunner::ProcReg, 0, 10000).toJsonObject().value("code").toInt(),
                 code);
    }

    void unreachableRegistrar()
    {
        QSettings().setValue(Key::WebRegEndpoint, "http://127.0.0.1:1/iot/register");
        m_bus->plugSensor("S1");
        RunnerHarness &h = startRunner();
        nameEverything(h, h.request(&CxgatewRunner::generateDoc, CxgatewRunner::AliasFill).toStringList());
        h.clearRecords();
        h.host().call(&CxgatewRunner::generateDoc);
        QCOMPARE(h.waitForCompletion(CxgatewRunner::ProcReg, 0, 30000).toJsonObject().value("code").toInt(),
                 500);
    }
};

QTEST_GUILESS_MAIN(TestRegistration)
#include "test_registration.moc"
