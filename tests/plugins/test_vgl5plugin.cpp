#include "qabstracthiddevice.h"
#include "simulatedhidbus.h"
#include "thingpluginloader.h"

#include <QJsonDocument>
#include <QTest>

class TestVGL5Plugin : public QObject
{
    Q_OBJECT

    std::unique_ptr<ThingPluginLoader> plugin;
    std::unique_ptr<SimulatedHidBus> bus;
    const QVariant watchdogId{0x0483A26Du};

private slots:
    void initTestCase()
    {
        plugin.reset(new ThingPluginLoader(QStringLiteral("libthing_vgl5.so")));
        QVERIFY2(plugin->type, qPrintable(plugin->errorString()));
        QCOMPARE(::init(), 0);
    }
    void cleanupTestCase() { QCOMPARE(::deinit(), 0); }
    void init()
    {
        bus.reset(new SimulatedHidBus);
        QVERIFY2(bus->isActive(), "HID tests must run with the umockdev preload (LD_PRELOAD)");
    }
    void cleanup() { bus.reset(); }

    void metaDataIsExactlyTheDeclaredOne()
    {
        const QJsonObject all = plugin->metaData();
        QCOMPARE(all.value(QStringLiteral("IID")).toString(),
                 QStringLiteral("pro.tessel.tsl_gate.AbstractThingType/1.0"));
        QCOMPARE(all.value(QStringLiteral("className")).toString(), QStringLiteral("VGL5Plugin"));
        const QJsonObject expected = QJsonDocument::fromJson(R"json({
            "name": "watchdog", "version": "100", "description": "Pellmark USB Watchdog Vigil2/Mini 2018",
            "deps": [{"name": "hidlink", "type": "lib", "version": 1}],
            "settings": [
                {"name": "ping", "type": "bool", "descr": "Send periodic keep-alive messages to the device", "value": true},
                {"name": "rst", "type": "bool", "descr": "Allow to be reset remotely", "value": false},
                {"name": "pwr", "type": "bool", "descr": "Allow to be hard reset remotely", "value": false}]})json")
                                         .object();
        QVERIFY(!expected.isEmpty());
        QCOMPARE(all.value(QStringLiteral("MetaData")).toObject(), expected);
    }

    void scanFindsWatchdogsByProductName()
    {
        QVERIFY(plugin->type->scan().isEmpty());
        bus->plugWatchdog(QStringLiteral("W1"));
        bus->plugWatchdog(QStringLiteral("W2"), QStringLiteral("VGL HID Interface"));
        bus->plugWatchdog(QStringLiteral("W3"), QStringLiteral("USB Watchdog 2"));
        bus->plugWatchdog(QStringLiteral("W4"), QStringLiteral("VGL HID"));
        bus->plugSensor(QStringLiteral("S1"), QStringLiteral("USB Watchdog"));
        const QHash<QString, QVariant> found = plugin->type->scan();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.value(QStringLiteral("W1")), watchdogId);
        QCOMPARE(found.value(QStringLiteral("W2")), watchdogId);
    }

    void createAppliesTheSettings()
    {
        SimulatedHidDevice *sim = bus->plugWatchdog(QStringLiteral("W1"));
        QObject *thui = nullptr;
        std::unique_ptr<QAbstractThing> thing(
            plugin->type->create(QStringLiteral("W1"), watchdogId,
                                 {{QStringLiteral("rst"), true}, {QStringLiteral("pwr"), false}}, &thui));
        QVERIFY(thing);
        QVERIFY(!thui);
        QVERIFY(!thing->parent());
        QCOMPARE(thing->type(), QStringLiteral("watchdog"));
        QCOMPARE(thing->version(), QStringLiteral("100"));
        QCOMPARE(thing->thingClass(), QAbstractThing::Sibling);
        QCOMPARE(thing->serial(), QStringLiteral("W1"));
        QCOMPARE(thing->property("interval").toInt(), 2500);
        QVERIFY(plugin->type->equals(QStringLiteral("W1"), thing.get()));
        QVERIFY(!plugin->type->equals(QStringLiteral("W2"), thing.get()));

        // "rst" allowed, "pwr" not: the reset goes out, the hard reset does not
        QVERIFY(thing->setState({{QStringLiteral("pwr"), 1}}));
        QCOMPARE(sim->outputCount(), 0);
        QVERIFY(!thing->setState({{QStringLiteral("rst"), 1}}));
        QCOMPARE(sim->takeOutputs(), QList<QByteArray>{QByteArray("\x01\x02", 2)});
    }

    void createFailsForAMissingDevice()
    {
        bus->plugWatchdog(QStringLiteral("W1"));
        QObject *thui = nullptr;
        QVERIFY(!plugin->type->create(QStringLiteral("W9"), watchdogId, {}, &thui));
        QVERIFY(!plugin->type->create(QStringLiteral("W1"), QVariant(0x0483A26Au), {}, &thui));
        bus->unplug(QStringLiteral("W1"));
        QVERIFY(!plugin->type->create(QStringLiteral("W1"), watchdogId, {}, &thui));
        QVERIFY(!thui);
    }
};

QTEST_GUILESS_MAIN(TestVGL5Plugin)
#include "test_vgl5plugin.moc"
