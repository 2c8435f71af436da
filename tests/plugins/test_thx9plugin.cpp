#include "fakething.h"
#include "qabstracthiddevice.h"
#include "simulatedhidbus.h"
#include "thingpluginloader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

class TestTHX9Plugin : public QObject
{
    Q_OBJECT

    std::unique_ptr<ThingPluginLoader> plugin;
    std::unique_ptr<SimulatedHidBus> bus;
    const QVariant sensorId{0x0483A26Au};

    QHash<QString, QVariant> defaults() const
    {
        return {{QStringLiteral("unit"), QStringLiteral("Celsius")}};
    }

private slots:
    void initTestCase()
    {
        plugin.reset(new ThingPluginLoader(QStringLiteral("libthing_thx9.so")));
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
        QCOMPARE(all.value(QStringLiteral("className")).toString(), QStringLiteral("THX9Plugin"));
        const QJsonObject expected = QJsonDocument::fromJson(R"json({
            "name": "thx9", "version": "100", "description": "Pellmark THX-9 USB sensor (temperature)",
            "deps": [{"name": "hidlink", "type": "lib", "version": 1}],
            "settings": [{"name": "unit", "type": "list", "descr": "Temperature Unit", "value": "Celsius",
                          "values": ["Celsius", "Fahrenheit", "Kelvin"]}]})json")
                                         .object();
        QVERIFY(!expected.isEmpty());
        QCOMPARE(all.value(QStringLiteral("MetaData")).toObject(), expected);
    }

    void scanFindsSensorsByProductName()
    {
        QVERIFY(plugin->type->scan().isEmpty());
        bus->plugSensor(QStringLiteral("S1"));
        bus->plugSensor(QStringLiteral("S2"), QStringLiteral("IOT DS18B20"));
        bus->plugSensor(QStringLiteral("S3"), QStringLiteral("IOT DS18B20 HIDX"));
        bus->plugSensor(QStringLiteral("S4"), QStringLiteral("USB Watchdog"));
        bus->plugWatchdog(QStringLiteral("W1"), QStringLiteral("IOT DS18B20 HID"));
        const QHash<QString, QVariant> found = plugin->type->scan();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.value(QStringLiteral("S1")), sensorId);
        QCOMPARE(found.value(QStringLiteral("S2")), sensorId);
    }

    void createOpensTheDeviceAndAppliesSettings()
    {
        SimulatedHidDevice *sim = bus->plugSensor(QStringLiteral("A1B2"));
        sim->injectTemperature(21.34);
        QObject *thui = nullptr;
        std::unique_ptr<QAbstractThing> thing(plugin->type->create(
            QStringLiteral("A1B2"), sensorId, {{QStringLiteral("unit"), QStringLiteral("Kelvin")}}, &thui));
        QVERIFY(thing);
        QVERIFY(!thui);
        QVERIFY(!thing->parent());
        QCOMPARE(thing->type(), QStringLiteral("thx9"));
        QCOMPARE(thing->version(), QStringLiteral("100"));
        QCOMPARE(thing->thingClass(), QAbstractThing::Sibling);
        QCOMPARE(thing->serial(), QStringLiteral("A1B2"));
        QCOMPARE(thing->shortid(), QStringLiteral("thx9_100_A1B2"));
        QCOMPARE(thing->property("interval").toInt(), 1000);
        // the reading taken at open, in the unit of the settings
        QCOMPARE(thing->state(), (QJsonObject{{"t", 294.5}}));
        QVERIFY(!thing->setState({{QStringLiteral("t"), 1}}));
        QCOMPARE(sim->openCount(), 1);
    }

    void createFailsForAMissingDevice()
    {
        bus->plugSensor(QStringLiteral("A1B2"));
        QObject *thui = nullptr;
        QVERIFY(!plugin->type->create(QStringLiteral("GONE"), sensorId, defaults(), &thui));
        QVERIFY(!plugin->type->create(QStringLiteral("A1B2"), QVariant(0x0483A26Du), defaults(), &thui));
        bus->unplug(QStringLiteral("A1B2"));
        QVERIFY(!plugin->type->create(QStringLiteral("A1B2"), sensorId, defaults(), &thui));
        QVERIFY(!thui);
    }

    void equalsComparesTypeVersionAndSerial()
    {
        bus->plugSensor(QStringLiteral("A1B2"));
        bus->plugWatchdog(QStringLiteral("A1B2"));
        QObject *thui = nullptr;
        std::unique_ptr<QAbstractThing> sensor(
            plugin->type->create(QStringLiteral("A1B2"), sensorId, defaults(), &thui));
        QVERIFY(sensor);
        QVERIFY(plugin->type->equals(QStringLiteral("A1B2"), sensor.get()));
        QVERIFY(!plugin->type->equals(QStringLiteral("a1b2"), sensor.get()));
        QVERIFY(!plugin->type->equals(QStringLiteral("A1B"), sensor.get()));
        QVERIFY(!plugin->type->equals(QStringLiteral("A1B2"), nullptr));
        const FakeThing sameVersion(QStringLiteral("thx9"), QStringLiteral("100"), QStringLiteral("A1B2"));
        const FakeThing otherVersion(QStringLiteral("thx9"), QStringLiteral("101"), QStringLiteral("A1B2"));
        const FakeThing otherType(QStringLiteral("THX9"), QStringLiteral("100"), QStringLiteral("A1B2"));
        QVERIFY(plugin->type->equals(QStringLiteral("A1B2"), &sameVersion));
        QVERIFY(!plugin->type->equals(QStringLiteral("A1B2"), &otherVersion));
        QVERIFY(!plugin->type->equals(QStringLiteral("A1B2"), &otherType));

        ThingPluginLoader watchdogPlugin(QStringLiteral("libthing_vgl5.so"));
        QVERIFY2(watchdogPlugin.type, qPrintable(watchdogPlugin.errorString()));
        std::unique_ptr<QAbstractThing> watchdog(
            watchdogPlugin.type->create(QStringLiteral("A1B2"), QVariant(0x0483A26Du), {}, &thui));
        QVERIFY(watchdog);
        QVERIFY(!plugin->type->equals(QStringLiteral("A1B2"), watchdog.get()));
    }
};

QTEST_GUILESS_MAIN(TestTHX9Plugin)
#include "test_thx9plugin.moc"
