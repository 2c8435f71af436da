#include "qabstracthiddevice.h"
#include "simulatedhidbus.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

constexpr ushort Vid = SimulatedHidBus::PellmarkVendorId;
constexpr ushort Pid = SimulatedHidBus::SensorProductId;
const QVariant SensorId(uint(Vid) << 16 | Pid);

// A minimal HID thing that records the reports the base class hands it.
class RecordingDevice : public QAbstractHidDevice
{
public:
    QString type() const override { return QStringLiteral("rec"); }
    QString version() const override { return QStringLiteral("1"); }
    Class thingClass() const override { return Sibling; }
    void applyTypeSettings(const QHash<QString, QVariant> &) override {}
    QJsonObject state() const override { return {}; }
    bool setState(const QJsonObject &) override { return false; }
    void statePublished() override {}

    using QAbstractHidDevice::timerId;
    QList<QByteArray> reports;
    // Contents of the base class's input buffer at the last report.
    const uint8_t *lastData = nullptr;

protected:
    void processReport(const uint8_t *data, int size) override
    {
        lastData = data;
        reports.append(QByteArray(reinterpret_cast<const char *>(data), size));
    }
};

QByteArray bytes(std::initializer_list<uchar> list)
{
    QByteArray b;
    for (uchar c : list)
        b.append(char(c));
    return b;
}

} // namespace

class TestQAbstractHidDevice : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimulatedHidBus> bus;

private slots:
    void initTestCase() { QCOMPARE(::init(), 0); }
    void cleanupTestCase() { QCOMPARE(::deinit(), 0); }

    void init()
    {
        bus.reset(new SimulatedHidBus);
        QVERIFY2(bus->isActive(), "HID tests must run with the umockdev preload (LD_PRELOAD)");
    }
    void cleanup() { bus.reset(); }

    void enumerationMatchesIdsAndWholeProductString_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("serials");
        QTest::newRow("empty pattern lists every product")
            << QString() << QStringList{"S1", "S2", "S3", "S4"};
        QTest::newRow("optional suffix") << "IOT DS18B20(?: HID)?" << QStringList{"S1", "S2"};
        QTest::newRow("pattern without the suffix") << "IOT DS18B20" << QStringList{"S2"};
        QTest::newRow("substring is not enough") << "DS18B20" << QStringList{};
        QTest::newRow("case sensitive") << "iot ds18b20 hid" << QStringList{};
        QTest::newRow("alternatives") << "(Other|IOT DS18B20)" << QStringList{"S2", "S3"};
    }
    void enumerationMatchesIdsAndWholeProductString()
    {
        QFETCH(QString, pattern);
        QFETCH(QStringList, serials);
        bus->plugSensor(QStringLiteral("S1"));
        bus->plugSensor(QStringLiteral("S2"), QStringLiteral("IOT DS18B20"));
        bus->plugSensor(QStringLiteral("S3"), QStringLiteral("Other"));
        bus->plugSensor(QStringLiteral("S4"), QStringLiteral("IOT DS18B20 HID v2"));
        bus->plugWatchdog(QStringLiteral("W1"), QStringLiteral("IOT DS18B20 HID"));      // other product id
        bus->plug(0x1234, Pid, QStringLiteral("V1"), QStringLiteral("IOT DS18B20 HID")); // other vendor id

        const QHash<QString, QVariant> found = QAbstractHidDevice::availableDevices(Vid, Pid, pattern);
        QStringList keys = found.keys();
        keys.sort();
        QCOMPARE(keys, serials);
        for (const QVariant &id : found) {
            QCOMPARE(id.userType(), int(QMetaType::UInt));
            QCOMPARE(id.toUInt(), 0x0483A26Au);
        }
    }

    void enumerationGivesOneEntryPerSerial()
    {
        bus->plugSensor(QStringLiteral("TWIN"));
        bus->plugSensor(QStringLiteral("TWIN"), QStringLiteral("IOT DS18B20"));
        bus->plugSensor(QStringLiteral("SOLO"));
        const QHash<QString, QVariant> found = QAbstractHidDevice::availableDevices(Vid, Pid, QString());
        QCOMPARE(found.size(), 2);
        QVERIFY(found.contains(QStringLiteral("TWIN")));
        QVERIFY(QAbstractHidDevice::availableDevices(Vid, 0xA26B, QString()).isEmpty());
    }

    void openBySerialPollsAtOnce()
    {
        bus->plugSensor(QStringLiteral("A"));
        SimulatedHidDevice *b = bus->plugSensor(QStringLiteral("B"));
        b->injectInput(bytes({0x01, 0x34, 0x12}));

        RecordingDevice dev;
        QCOMPARE(dev.timerId(), -1);
        QCOMPARE(dev.interval(), 1000);
        QVERIFY(dev.open(QStringLiteral("B"), SensorId));
        QCOMPARE(dev.serial(), QStringLiteral("B"));
        QVERIFY(dev.timerId() > 0);
        // open polls once right away, on the device with that serial
        QCOMPARE(dev.reports, QList<QByteArray>{bytes({0x01, 0x34, 0x12})});
        QCOMPARE(b->openCount(), 1);
        QCOMPARE(bus->device(QStringLiteral("A"))->openCount(), 0);
    }

    void failedOpenKeepsSerialAndStartsNoTimer()
    {
        bus->plugSensor(QStringLiteral("A"));
        RecordingDevice dev;
        QVERIFY(!dev.open(QStringLiteral("NOPE"), SensorId));
        QCOMPARE(dev.serial(), QStringLiteral("NOPE"));
        QCOMPARE(dev.timerId(), -1);
        // the right serial with the wrong product id fails as well
        QVERIFY(!dev.open(QStringLiteral("A"), QVariant(uint(Vid) << 16 | 0xA26D)));
        QCOMPARE(dev.serial(), QStringLiteral("A"));
        QCOMPARE(dev.get_feature(4), 0);
    }

    void reopenClosesTheFirstHandle()
    {
        SimulatedHidDevice *a = bus->plugSensor(QStringLiteral("A"));
        SimulatedHidDevice *b = bus->plugSensor(QStringLiteral("B"));
        RecordingDevice dev;
        QVERIFY(dev.open(QStringLiteral("A"), SensorId));
        QTRY_COMPARE(a->openCount(), 1);
        QVERIFY(dev.open(QStringLiteral("B"), SensorId));
        QTRY_COMPARE(a->openCount(), 0);
        QCOMPARE(b->openCount(), 1);
        QVERIFY(dev.timerId() > 0);

        // a failed re-open still closes the open handle, and the stopped timer reads 0
        QVERIFY(!dev.open(QStringLiteral("GONE"), SensorId));
        QTRY_COMPARE(b->openCount(), 0);
        QCOMPARE(dev.timerId(), 0);
        QCOMPARE(dev.serial(), QStringLiteral("GONE"));
    }

    void pollReadsAtMostOneReportAndNothingWhenIdle()
    {
        SimulatedHidDevice *sim = bus->plugSensor(QStringLiteral("A"));
        RecordingDevice dev;
        dev.setInterval(3600 * 1000); // polls are driven by hand here
        QVERIFY(dev.open(QStringLiteral("A"), SensorId));
        QVERIFY(dev.reports.isEmpty());

        dev.doPoll();
        QVERIFY(dev.reports.isEmpty());

        sim->injectInput(bytes({0x01, 0x01, 0x00}));
        sim->injectInput(bytes({0x02, 0xAA}));
        dev.doPoll();
        QCOMPARE(dev.reports.size(), 1);
        QCOMPARE(sim->pendingInputCount(), 1);
        dev.doPoll();
        QCOMPARE(dev.reports, (QList<QByteArray>{bytes({0x01, 0x01, 0x00}), bytes({0x02, 0xAA})}));
        dev.doPoll();
        QCOMPARE(dev.reports.size(), 2);
    }

    void featureReports()
    {
        SimulatedHidDevice *sim = bus->plugSensor(QStringLiteral("A"));
        RecordingDevice dev;
        dev.setInterval(3600 * 1000);
        QVERIFY(dev.open(QStringLiteral("A"), SensorId));

        // no such report: the failed request gives 0
        QCOMPARE(dev.get_feature(4), 0);

        QByteArray report(17, 0);
        report[0] = 4;
        report[1] = 0x5A;
        report[16] = 0x7E;
        sim->setFeature(report);
        uchar buf[64];
        std::fill(std::begin(buf), std::end(buf), uchar(0xEE));
        QCOMPARE(dev.get_feature(4, buf), 17);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 17), report);
        QCOMPARE(buf[17], uchar(0)); // the rest of the buffer is cleared

        // without a buffer the input buffer is the target; the next report overwrites it
        sim->injectInput(bytes({0x01, 0x10, 0x20}));
        dev.doPoll();
        QVERIFY(dev.lastData);
        const uint8_t *input = dev.lastData;
        QCOMPARE(dev.get_feature(4), 17);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(input), 17), report);
        sim->injectInput(bytes({0x01, 0x10, 0x20}));
        dev.doPoll();
        QCOMPARE(input[0], uint8_t(0x01));
        QCOMPARE(input[1], uint8_t(0x10));
    }

    void setIntervalRestartsARunningTimer()
    {
        SimulatedHidDevice *sim = bus->plugSensor(QStringLiteral("A"));
        RecordingDevice dev;
        dev.setInterval(3600 * 1000);
        QVERIFY(dev.open(QStringLiteral("A"), SensorId));
        sim->injectInput(bytes({0x01, 0x00, 0x00}));
        dev.setInterval(20);
        QCOMPARE(dev.interval(), 20);
        QVERIFY(dev.timerId() > 0);
        QTRY_COMPARE_WITH_TIMEOUT(dev.reports.size(), 1, 10000);
    }

    void unplugAnnouncesTheLossOnceAndStopsPolling()
    {
        SimulatedHidDevice *sim = bus->plugSensor(QStringLiteral("A"));
        RecordingDevice dev;
        dev.setInterval(20);
        QVERIFY(dev.open(QStringLiteral("A"), SensorId));
        QSignalSpy errors(&dev, &QAbstractHidDevice::error);
        QSignalSpy gone(&dev, &QAbstractThing::mediumGone);
        QStringList order;
        connect(&dev, &QAbstractHidDevice::error, this, [&order] { order << QStringLiteral("error"); });
        connect(&dev, &QAbstractThing::mediumGone, this, [&order] { order << QStringLiteral("gone"); });

        sim->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(gone.size(), 1, 10000);
        QCOMPARE(order, (QStringList{"error", "gone"}));
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.at(0).at(0).toString().startsWith(QStringLiteral("Device communication error: ")),
                 qPrintable(errors.at(0).at(0).toString()));
        // the handle is closed, and the tick after the loss stops the timer
        QTRY_COMPARE(sim->openCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(dev.timerId(), -1, 10000);

        const int requests = sim->requestCount();
        QTest::qWait(150);
        dev.doPoll(); // a closed device makes no calls
        QCOMPARE(sim->requestCount(), requests);
        QCOMPARE(gone.size(), 1);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(dev.get_feature(4), 0);
    }

    void replugReusesTheNodeSafely()
    {
        SimulatedHidDevice *first = bus->plugSensor(QStringLiteral("A"));
        const int index = first->index();
        {
            RecordingDevice dev;
            dev.setInterval(3600 * 1000);
            QVERIFY(dev.open(QStringLiteral("A"), SensorId));
            QSignalSpy gone(&dev, &QAbstractThing::mediumGone);
            QCOMPARE(bus->unplug(QStringLiteral("A")), 1);
            QVERIFY(QAbstractHidDevice::availableDevices(Vid, Pid, QString()).isEmpty());
            // still held open: a new device must not take over the node under the old client
            SimulatedHidDevice *other = bus->plugSensor(QStringLiteral("B"));
            QVERIFY(other->index() != index);
            dev.doPoll();
            QCOMPARE(gone.size(), 1);
            QCOMPARE(other->requestCount(), 0);
        }
        // once the old client let go, its node is free again
        QTRY_COMPARE(first->openCount(), 0);
        SimulatedHidDevice *again = bus->plugSensor(QStringLiteral("A"));
        QCOMPARE(again->index(), index);
        QCOMPARE(bus->devices().size(), 2);
        again->injectInput(bytes({0x01, 0x02, 0x03}));
        RecordingDevice dev;
        QVERIFY(dev.open(QStringLiteral("A"), SensorId));
        QCOMPARE(dev.reports, QList<QByteArray>{bytes({0x01, 0x02, 0x03})});
    }
};

QTEST_GUILESS_MAIN(TestQAbstractHidDevice)
#include "test_qabstracthiddevice.moc"
