#include "appidentity.h"
#include "calvexcloudclient.h"
#include "eventwait.h"
#include "fakething.h"
#include "gatewaything.h"
#include "mosquittobroker.h"
#include "mosquittosubscriber.h"
#include "registrationcodec.h"
#include "settingskeys.h"
#include "testpki.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString GatewayId = QStringLiteral("gateway_200_5521_9");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestGatewayThing : public QObject
{
    Q_OBJECT

    std::unique_ptr<MosquittoBroker> m_broker;
    TestPki::Identity m_identity;

    // A registered gateway with its credentials, pointed at the test broker.
    void registerGateway(GatewayThing &gateway)
    {
        QSettings settings;
        settings.setValue(Key::CloudSerial, "5521");
        settings.setValue(Key::CloudHost, m_broker->host());
        settings.setValue(Key::CloudPort, m_broker->port());
        gateway.setRegid("9");
        QVERIFY(
            gateway.client()->storeCredentials(readFile(m_identity.certPath), readFile(m_identity.keyPath)));
    }

    bool connectGateway(GatewayThing &gateway, bool firstrun)
    {
        QSignalSpy online(&gateway, &GatewayThing::connectivityChanged);
        if (!gateway.connectToCloud(firstrun))
            return false;
        return waitUntil([&] { return !online.isEmpty() && online.last().at(0).toBool(); }, 15000);
    }

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        TestPki &pki = TestPki::instance();
        QVERIFY2(pki.isValid(), qPrintable(pki.errorString()));
        qputenv("TSL_GATE_CA_BUNDLE", pki.caPath().toUtf8());
        m_identity = pki.client(GatewayId);
        QVERIFY(!m_identity.isNull());
        m_broker = std::make_unique<MosquittoBroker>();
        QVERIFY2(m_broker->start(), qPrintable(m_broker->errorString()));
    }
    void cleanupTestCase() { m_broker.reset(); }
    void init()
    {
        QSettings().clear();
        CalvexCloudClient client;
        client.removeCredentials();
        client.discardBacklog();
    }

    void identity()
    {
        GatewayThing gateway;
        QCOMPARE(gateway.shortid(), QStringLiteral("gateway_200_?"));
        QSettings().setValue(Key::CloudSerial, "5521");
        gateway.setRegid("9");
        QCOMPARE(gateway.cloudid(), QStringLiteral("gateway_200_5521_9"));
        QCOMPARE(gateway.thingClass(), QAbstractThing::Gateway);
        QVERIFY(!gateway.setState({{"x", 1}}));
        QCOMPARE(gateway.state(), QJsonObject({{"count", 0}}));
    }

    void reportIntervalAndKeepAlive()
    {
        GatewayThing gateway;
        QCOMPARE(gateway.brokerKeepAlive(), 240);
        gateway.setReportInterval(30);
        QCOMPARE(gateway.reportInterval(), 60);
        gateway.setReportInterval(301); // 0.8 * 301 = 240.8 rounds to 241
        gateway.setKeepAlive(300);
        QCOMPARE(gateway.brokerKeepAlive(), 241);
        gateway.setKeepAlive(100);
        QCOMPARE(gateway.brokerKeepAlive(), 100);
        QVERIFY(gateway.setProperty("reportInterval", 7200));
        QCOMPARE(gateway.reportInterval(), 7200);
    }

    void connectRefusedWithoutIdentity()
    {
        GatewayThing gateway;
        QVERIFY(!gateway.connectToCloud(true)); // no registration id
        gateway.setRegid("9");
        // Registered but no credentials: the client refuses and says why.
        QVERIFY(!gateway.connectToCloud(false));
        QCOMPARE(gateway.client()->lastError(), QStringLiteral("Key is missing / invalid"));
        QVERIFY(!gateway.isConnected());
    }

    void siblings()
    {
        GatewayThing gateway;
        auto *sensor = new FakeThing("thx9", "A1B2");
        sensor->setRegid("7");
        QSignalSpy gatewayState(&gateway, &QAbstractThing::stateChanged);

        QVERIFY(gateway.addSibling(sensor));
        QCOMPARE(sensor->parent(), &gateway);
        QVERIFY(!gateway.addSibling(sensor));
        QCOMPARE(gatewayState.count(), 1);
        QCOMPARE(gatewayState.at(0).at(0).toJsonObject(), QJsonObject({{"count", 1}}));
        QVERIFY(gateway.hasSibling("thx9_100_A1B2_7"));

        // Another object under the same cloud id is not the sibling.
        FakeThing impostor("thx9", "A1B2");
        impostor.setRegid("7");
        QVERIFY(!gateway.removeSibling(&impostor));
        QVERIFY(gateway.hasSibling("thx9_100_A1B2_7"));

        QPointer<FakeThing> watch(sensor);
        QVERIFY(gateway.removeSibling(sensor));
        QVERIFY(!gateway.removeSibling("thx9_100_A1B2_7"));
        QCOMPARE(gatewayState.count(), 2);
        QCOMPARE(gatewayState.at(1).at(0).toJsonObject(), QJsonObject({{"count", 0}}));
        // The gateway was its parent: it goes on the next turn of the event loop.
        QTRY_VERIFY(watch.isNull());

        // A thing with a parent of its own keeps it and survives its removal.
        QObject owner;
        auto *owned = new FakeThing("watchdog", "W1", &owner);
        owned->setRegid("8");
        QVERIFY(gateway.addSibling(owned));
        QCOMPARE(owned->parent(), &owner);
        QVERIFY(gateway.removeSibling(owned->cloudid()));
        QCoreApplication::processEvents();
        QCOMPARE(owner.children().size(), 1);
    }

    void updatesAreRoutedToSiblings()
    {
        GatewayThing gateway;
        auto *watchdog = new FakeThing("watchdog", "W1");
        watchdog->setRegid("8");
        gateway.addSibling(watchdog);

        QMetaObject::invokeMethod(&gateway, "mqtt_messageReceived", Q_ARG(QString, "watchdog_100_W1_8"),
                                  Q_ARG(QByteArray, "{\"rst\":1}"));
        QCOMPARE(watchdog->updates, QList<QJsonObject>{QJsonObject({{"rst", 1}})});
        // Not JSON, an unknown id, or an array: dropped, or an empty update.
        QMetaObject::invokeMethod(&gateway, "mqtt_messageReceived", Q_ARG(QString, "watchdog_100_W1_8"),
                                  Q_ARG(QByteArray, "{rst"));
        QMetaObject::invokeMethod(&gateway, "mqtt_messageReceived", Q_ARG(QString, "watchdog_100_W2_8"),
                                  Q_ARG(QByteArray, "{}"));
        QCOMPARE(watchdog->updates.size(), 1);
        QMetaObject::invokeMethod(&gateway, "mqtt_messageReceived", Q_ARG(QString, "watchdog_100_W1_8"),
                                  Q_ARG(QByteArray, "[1,2]"));
        QCOMPARE(watchdog->updates.size(), 2);
        QCOMPARE(watchdog->updates.last(), QJsonObject());

        QMetaObject::invokeMethod(&gateway, "mqtt_messagePublished", Q_ARG(QString, "watchdog_100_W1_8"));
        QMetaObject::invokeMethod(&gateway, "mqtt_messagePublished", Q_ARG(QString, gateway.cloudid()));
        QCOMPARE(watchdog->published, 1);
    }

    void registrationDocument_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::addColumn<QJsonObject>("expected");
        QTest::newRow("new gateway") << false
                                     << QJsonObject{{"gw", "gateway_200_?"},
                                                    {"alias", "Office"},
                                                    {"sib", QJsonArray{QJsonArray{"thx9_100_A1B2", "Boiler"},
                                                                       QJsonArray{"watchdog_100_?", ""}}}};
        QTest::newRow("registered gateway")
            << true
            << QJsonObject{{"app", "gateway_200_5521_9"},
                           {"sib", QJsonArray{QJsonArray{"thx9_100_A1B2", "Boiler"},
                                              QJsonArray{"watchdog_100_?", ""}}}};
    }
    void registrationDocument()
    {
        QFETCH(bool, registered);
        QFETCH(QJsonObject, expected);
        QSettings().setValue(Key::CloudSerial, "5521");
        GatewayThing gateway;
        gateway.setName("Office");
        if (registered)
            gateway.setRegid("9");
        FakeThing sensor("thx9", "A1B2"), anonymous("watchdog", ""), known("thx9", "C3");
        sensor.setName("Boiler");
        known.setRegid("4");

        const QString doc = gateway.registrationDoc({&sensor, &known, &anonymous});
        QVERIFY(!doc.isEmpty());
        QVERIFY(!doc.contains('+') && !doc.contains('/'));
        QCOMPARE(doc.size() % 4, 0); // padded
        QCOMPARE(RegistrationCodec::decode(doc), expected);

        // A plain zlib stream: header byte 0x78, no length prefix.
        const QByteArray raw = QByteArray::fromBase64(doc.toLatin1(), QByteArray::Base64UrlEncoding);
        QCOMPARE(quint8(raw.at(0)), quint8(0x78));
        QCOMPARE(QJsonDocument::fromJson(qUncompress(QByteArray("\0\0\x10\0", 4) + raw)).object(), expected);

        // The registrar is not written with Qt: decode the document with other tools too.
        QProcess python;
        python.start("python3", {"-c", "import base64, sys, zlib; "
                                       "sys.stdout.buffer.write(zlib.decompress(base64.urlsafe_b64decode("
                                       "sys.stdin.read())))"});
        python.write(doc.toLatin1());
        python.closeWriteChannel();
        QVERIFY(python.waitForFinished(30000));
        QCOMPARE(python.exitCode(), 0);
        QCOMPARE(QJsonDocument::fromJson(python.readAllStandardOutput()).object(), expected);
    }

    void registeredGatewayWithNothingNew()
    {
        GatewayThing gateway;
        gateway.setRegid("9");
        FakeThing known("thx9", "C3");
        known.setRegid("4");
        QVERIFY(gateway.registrationDoc({&known}).isNull());
        QVERIFY(gateway.registrationDoc({}).isNull());
        gateway.setRegid(QString());
        QCOMPARE(RegistrationCodec::decode(gateway.registrationDoc({})).value("sib").toArray(), QJsonArray());
    }

    void codecRefusesGarbage()
    {
        QCOMPARE(RegistrationCodec::decode("not base64 !!"), QJsonObject());
        QCOMPARE(RegistrationCodec::decode(QString::fromLatin1(QByteArray("hello world").toBase64())),
                 QJsonObject());
        QCOMPARE(RegistrationCodec::decode(QString()), QJsonObject());
        // A stream that inflates beyond the limit is refused, not inflated.
        const QByteArray bomb = qCompress(QByteArray(8 << 20, ' ') + "{}").mid(4);
        QCOMPARE(RegistrationCodec::decode(QString::fromLatin1(bomb.toBase64(QByteArray::Base64UrlEncoding))),
                 QJsonObject());
    }

    void brokerSettingsFromTheResult()
    {
        GatewayThing gateway;
        QSignalSpy changed(&gateway, &GatewayThing::settingsChanged);
        QVERIFY(gateway.processRegistration({{"server", "mqtt.example"}, {"port", 8884}}, {}, false));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(QSettings().value(Key::CloudHost).toString(), QStringLiteral("mqtt.example"));
        QCOMPARE(QSettings().value(Key::CloudPort).toInt(), 8884);

        // The same host, ports out of range, wrong types: nothing changes.
        for (const QJsonValue &port : {QJsonValue(0), QJsonValue(70000), QJsonValue("8885"), QJsonValue(-1)})
            QVERIFY(gateway.processRegistration({{"server", "mqtt.example"}, {"port", port}}, {}, false));
        QVERIFY(gateway.processRegistration({{"server", ""}}, {}, false));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(QSettings().value(Key::CloudPort).toInt(), 8884);
    }

    void fleetMatching()
    {
        GatewayThing gateway;
        gateway.setRegid("9");
        FakeThing sensor("thx9", "A1B2"), other("thx9", "A1B22"), watchdog("watchdog", "W1");
        sensor.setName("Boiler");
        const QJsonObject reply{
            {"fleet", QJsonArray{QJsonObject{{"id", "thx9_100_A1B2_17"}, {"alias", "Cellar"}},
                                 QJsonObject{{"id", "watchdog_100_W1_18"}, {"alias", ""}},
                                 QJsonObject{{"id", "ghost_100_X_19"}, {"alias", "Nobody"}}}}};
        QVERIFY(gateway.processRegistration(reply, {&sensor, &other, &watchdog}, true));
        QCOMPARE(sensor.regid(), QStringLiteral("17"));
        QCOMPARE(sensor.name(), QStringLiteral("Cellar"));
        QCOMPARE(other.regid(), QString()); // the prefix matched the first thing of the list only
        QCOMPARE(watchdog.regid(), QStringLiteral("18"));
        QCOMPARE(watchdog.name(), QString());
        QVERIFY(gateway.hasSibling("thx9_100_A1B2_17"));
        QVERIFY(gateway.hasSibling("watchdog_100_W1_18"));
        QCOMPARE(gateway.siblingCount(), 2);
        gateway.removeSibling(&sensor);
        gateway.removeSibling(&watchdog);
    }

    void malformedGatewayResults()
    {
        GatewayThing gateway;
        QSignalSpy serial(&gateway, &QAbstractThing::serialChanged);
        // Three parts, five parts, credentials that do not parse: refused, and the gateway stays
        // unregistered with no serial and no credential files.
        const QJsonObject cred{{"priv", "garbage"}, {"file", "garbage"}};
        for (const char *id : {"a_b_c", "gateway_200_1_2_3", "", "gateway_200_5521_9"})
            QVERIFY(!gateway.processRegistration({{"id", id}, {"cred", cred}}, {}, false));
        QVERIFY(!gateway.processRegistration({{"id", 42}, {"cred", cred}}, {}, false));
        QVERIFY(!gateway.processRegistration({{"id", "gateway_200_5521_9"}, {"cred", "text"}}, {}, false));
        QCOMPARE(gateway.regid(), QString());
        QCOMPARE(QSettings().value(Key::CloudSerial).toString(), QString());
        QCOMPARE(serial.count(), 0);
        QCOMPARE(gateway.client()->keyStatus(), CalvexCloudClient::FileMissing);
        QCOMPARE(gateway.client()->certStatus(), CalvexCloudClient::FileMissing);
    }

    void goodGatewayResult()
    {
        GatewayThing gateway;
        gateway.setName("Office");
        QSignalSpy serial(&gateway, &QAbstractThing::serialChanged);
        QSignalSpy changed(&gateway, &GatewayThing::settingsChanged);
        const QJsonObject reply{
            {"id", GatewayId},
            {"alias", "HQ"},
            {"cred", QJsonObject{{"priv", QString::fromLatin1(readFile(m_identity.keyPath))},
                                 {"file", QString::fromLatin1(readFile(m_identity.certPath))}}},
            {"server", "localhost"},
            {"port", 18883}};
        QVERIFY(gateway.processRegistration(reply, {}, true));
        QCOMPARE(gateway.regid(), QStringLiteral("9"));
        QCOMPARE(gateway.cloudid(), GatewayId);
        QCOMPARE(gateway.name(), QStringLiteral("HQ"));
        QCOMPARE(serial.count(), 1);
        QCOMPARE(serial.at(0), QVariantList({"?", "5521"}));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(gateway.client()->keyStatus(), CalvexCloudClient::Ok);
        QCOMPARE(gateway.client()->certStatus(), CalvexCloudClient::Ok);

        // An empty alias keeps the name; the same serial is announced again.
        QVERIFY(gateway.processRegistration({{"id", GatewayId}, {"alias", ""}, {"cred", reply["cred"]}}, {},
                                            true));
        QCOMPARE(gateway.name(), QStringLiteral("HQ"));
        QCOMPARE(serial.count(), 2);

        gateway.clearRegistration();
        QCOMPARE(gateway.regid(), QString());
        QCOMPARE(gateway.client()->keyStatus(), CalvexCloudClient::FileMissing);
        QCOMPARE(gateway.client()->certStatus(), CalvexCloudClient::FileMissing);
    }

    void reportsOverTheBroker()
    {
        GatewayThing gateway;
        registerGateway(gateway);
        auto *sensor = new FakeThing("thx9", "A1B2");
        sensor->setRegid("7");
        sensor->change({{"t", 21.5}});
        auto *silent = new FakeThing("watchdog", "W1"); // no state yet: not reported
        silent->setRegid("8");
        gateway.addSibling(sensor);
        gateway.addSibling(silent);

        MosquittoSubscriber states(*m_broker, "things/+/state");
        QVERIFY(states.waitForSubscribed());
        QVERIFY(connectGateway(gateway, true));
        QCOMPARE(gateway.reportTimerPeriod(), 300000);
        // The first full report comes 30 to 70 s after a first-run connection.
        auto *first = gateway.findChild<QTimer *>("firstReport");
        QVERIFY(first && first->isActive());
        QVERIFY(first->remainingTime() > 25000 && first->remainingTime() <= 70000);

        gateway.reportStates();
        QVERIFY2(states.waitForLines(2), qPrintable(states.transcript()));
        QCOMPARE(states.lines(), QStringList({"things/thx9_100_A1B2_7/state {\"t\":21.5}",
                                              "things/gateway_200_5521_9/state {\"count\":2}"}));

        // A new interval restarts the running timer at once.
        gateway.setReportInterval(600);
        QCOMPARE(gateway.reportTimerPeriod(), 600000);

        // A reconnection that is not a first run schedules no extra report.
        gateway.disconnectFromCloud();
        QCOMPARE(gateway.reportTimerPeriod(), 0);
        QVERIFY(!first->isActive() || first->remainingTime() > 0);
        first->stop();
        QVERIFY(connectGateway(gateway, false));
        QVERIFY(!first->isActive());
        gateway.removeSibling(sensor);
        gateway.removeSibling(silent);
    }

    void immediateReportsAndCloudUpdates()
    {
        GatewayThing gateway;
        registerGateway(gateway);
        auto *sensor = new FakeThing("thx9", "A1B2");
        sensor->setRegid("7");
        auto *watchdog = new FakeThing("watchdog", "W1");
        watchdog->setRegid("8");
        watchdog->setReportChanges(true);
        // Both read a state before they were attached, offline (a restart): only the flagged one's
        // goes out, once connected.
        sensor->change({{"t", 29.0}});
        watchdog->change({{"flags", 0}});
        gateway.addSibling(sensor);
        gateway.addSibling(watchdog);
        MosquittoSubscriber states(*m_broker, "things/+/state");
        QVERIFY(states.waitForSubscribed());
        QVERIFY(connectGateway(gateway, false));
        QVERIFY(states.waitForLines(1));
        QCOMPARE(states.lines().first(), QStringLiteral("things/watchdog_100_W1_8/state {\"flags\":0}"));

        // Only flagged siblings report at once; the acknowledgement reaches the sibling.
        sensor->change({{"t", 30.0}});
        watchdog->change({{"flags", 1}, {"ch3", QJsonValue::Null}});
        QVERIFY(states.waitForLines(2));
        QCOMPARE(states.lines().at(1),
                 QStringLiteral("things/watchdog_100_W1_8/state {\"ch3\":null,\"flags\":1}"));
        QVERIFY(waitUntil([&] { return watchdog->published == 2; }, 5000));

        // An update from the cloud reaches the sibling, and its new state goes out at once,
        // whatever its report flag; refused updates, bad JSON and unknown ids are dropped.
        QVERIFY(m_broker->publish("things/thx9_100_A1B2_7/update", "{\"t\":1}"));
        QVERIFY(waitUntil([&] { return sensor->updates.size() == 1; }, 10000));
        QVERIFY(states.waitForLines(3));
        QCOMPARE(states.lines().at(2), QStringLiteral("things/thx9_100_A1B2_7/state {\"t\":1}"));

        watchdog->acceptUpdates = false;
        QVERIFY(m_broker->publish("things/watchdog_100_W1_8/update", "{\"rst\":1}"));
        QVERIFY(m_broker->publish("things/watchdog_100_W1_8/update", "not json"));
        QVERIFY(m_broker->publish("things/watchdog_100_W9_8/update", "{}"));
        QVERIFY(m_broker->publish("things/thx9_100_A1B2_7/update", "{\"t\":2}"));
        QVERIFY(waitUntil([&] { return sensor->updates.size() == 2; }, 10000));
        QVERIFY(states.waitForLines(4));
        QCOMPARE(watchdog->updates, QList<QJsonObject>{QJsonObject({{"rst", 1}})});
        QCOMPARE(states.lines().size(), 4);
        QCOMPARE(states.lines().at(3), QStringLiteral("things/thx9_100_A1B2_7/state {\"t\":2}"));

        // After removal no update reaches it.
        gateway.removeSibling(sensor);
        QVERIFY(m_broker->publish("things/thx9_100_A1B2_7/update", "{\"t\":3}"));
        QTest::qWait(300);
        gateway.removeSibling(watchdog);
    }

    // Reports queued while the broker is down drain in order, one per acknowledgement; a broker that
    // dies part-way loses nothing: the next connection goes on from the first unacknowledged report.
    // A void identity empties the outbox.
    void backlogDrainsInOrderAcrossBrokerRestart()
    {
        GatewayThing gateway;
        registerGateway(gateway);
        CalvexCloudClient *client = gateway.client();
        QSignalSpy announced(client, &CalvexCloudClient::backlogChanged);
        const QString tid = QStringLiteral("thx9_100_A1B2_7");
        auto expected = [&](int from, int to) {
            QStringList lines;
            for (int i = from; i < to; ++i)
                lines.append(QStringLiteral("things/%1/state %2").arg(tid).arg(i));
            return lines;
        };

        // A bound that is no number reads as the default rather than as 0.
        QSettings().setValue(Key::CloudOutboxMessages, "lots");
        m_broker->stop();
        QVERIFY(gateway.connectToCloud(false));
        const int total = 5000;
        for (int i = 0; i < total; ++i)
            client->publish(tid, QByteArray::number(i));
        QCOMPARE(client->backlog().waiting, total);
        QVERIFY(waitUntil([&] { return !announced.isEmpty(); }, 3000));
        QCOMPARE(announced.last().at(0).value<OutboxBacklog>().waiting, total);

        QVERIFY(m_broker->restart());
        int acknowledged = 0;
        {
            MosquittoSubscriber early(*m_broker, "things/+/state");
            QVERIFY(early.waitForSubscribed());
            client->reconnectNow();
            QVERIFY(early.waitForLines(300, 20000));
            m_broker->kill();
            QVERIFY(waitUntil([&] { return !client->connected(); }, 10000));
            acknowledged = total - client->backlog().waiting;
            QVERIFY2(acknowledged >= 300 && acknowledged < total, qPrintable(QString::number(acknowledged)));
            // What reached the subscriber before the broker died (and then the tool's complaint).
            const QStringList got = early.lines().filter(QRegularExpression(QStringLiteral("^things/")));
            QCOMPARE(got, expected(0, got.size()));
        }
        QVERIFY(m_broker->restart());
        MosquittoSubscriber late(*m_broker, "things/+/state");
        QVERIFY(late.waitForSubscribed());
        client->reconnectNow();
        QVERIFY(late.waitForLines(total - acknowledged, 30000));
        QCOMPARE(late.lines(), expected(acknowledged, total));
        QVERIFY(waitUntil([&] { return announced.last().at(0).value<OutboxBacklog>().isEmpty(); }, 3000));
        // The subscriber may see the last reports before their acknowledgements reach the client, and
        // the announcement leaves out reports on their way: wait until the last one has left.
        QVERIFY(waitUntil([&] { return client->backlog().waiting == 0; }, 10000));

        gateway.disconnectFromCloud();
        client->publish(tid, "late");
        QCOMPARE(client->backlog().waiting, 1);
        gateway.clearRegistration();
        QCOMPARE(client->backlog().waiting, 0);
    }
};

QTEST_GUILESS_MAIN(TestGatewayThing)
#include "test_gatewaything.moc"
