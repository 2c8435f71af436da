#include "simulatedhidbus.h"
#include "thx9device.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

const QVariant SensorId(0x0483A26Au);

QByteArray bytes(std::initializer_list<uchar> list)
{
    QByteArray b;
    for (uchar c : list)
        b.append(char(c));
    return b;
}

QJsonObject t(double value)
{
    return {{QStringLiteral("t"), value}};
}

} // namespace

class TestTHX9Device : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimulatedHidBus> bus;
    SimulatedHidDevice *sim = nullptr;
    std::unique_ptr<THX9Device> dev;

    // Feeds one report and runs one poll by hand.
    void feed(const QByteArray &report)
    {
        sim->injectInput(report);
        dev->doPoll();
        QCOMPARE(sim->pendingInputCount(), 0);
    }
    void feedTemperature(qint16 hundredths)
    {
        sim->injectRawTemperature(hundredths);
        dev->doPoll();
    }

private slots:
    void init()
    {
        bus.reset(new SimulatedHidBus);
        QVERIFY2(bus->isActive(), "HID tests must run with the umockdev preload (LD_PRELOAD)");
        sim = bus->plugSensor(QStringLiteral("A1B2"));
        dev.reset(new THX9Device);
        dev->setInterval(3600 * 1000); // polls are driven by hand
        QVERIFY(dev->open(QStringLiteral("A1B2"), SensorId));
    }
    void cleanup()
    {
        dev.reset();
        bus.reset();
    }

    void identity()
    {
        QCOMPARE(dev->type(), QStringLiteral("thx9"));
        QCOMPARE(dev->version(), QStringLiteral("100"));
        QCOMPARE(dev->thingClass(), QAbstractThing::Sibling);
        QCOMPARE(dev->serial(), QStringLiteral("A1B2"));
        QCOMPARE(dev->unit(), THX9Device::Celsius);
        QVERIFY(!dev->setState(t(5)));
    }

    void stateIsEmptyUntilTheFirstValidReport()
    {
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        QVERIFY(dev->state().isEmpty());
        dev->doPoll();
        feed(bytes({0x02, 0x34, 0x08}));
        feed(bytes({0x01, 0x34}));
        QVERIFY(dev->state().isEmpty());
        QCOMPARE(changed.size(), 0);
        feed(bytes({0x01, 0x34, 0x08, 0xFF})); // 21.00, trailing bytes ignored
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toJsonObject(), t(21.0));
    }

    void announcesHalfDegreeMovesSinceTheLastAnnouncement()
    {
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        feedTemperature(2130);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toJsonObject(), t(21.5));
        feedTemperature(2155); // 0.25 from the last announcement
        QCOMPARE(changed.size(), 1);
        QCOMPARE(dev->state(), t(21.5)); // the stored reading follows every report
        feedTemperature(2180);           // 0.25 again, but 0.5 from the announced reading
        QCOMPARE(changed.size(), 2);
        QCOMPARE(changed.at(1).at(0).toJsonObject(), t(22.0));
        // foreign and short reports leave the reading alone
        feed(bytes({0x02, 0x00, 0x10}));
        feed(bytes({0x01, 0x00}));
        feed(bytes({0x01}));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(dev->state(), t(22.0));
    }

    void driftShowsAndNoiseDoesNot_data()
    {
        QTest::addColumn<int>("step"); // hundredths per report
        QTest::addColumn<bool>("wobble");
        QTest::addColumn<int>("announcements");
        QTest::newRow("warming 0.1 a second for 20 s") << 10 << false << 4;
        QTest::newRow("cooling by the sensor's resolution") << -6 << false << 2;
        QTest::newRow("wobbling 0.2 around the value") << 20 << true << 0;
        QTest::newRow("wobbling 0.45 around the value") << 45 << true << 0;
    }
    void driftShowsAndNoiseDoesNot()
    {
        QFETCH(int, step);
        QFETCH(bool, wobble);
        QFETCH(int, announcements);
        feedTemperature(2100);
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        for (int i = 1; i <= 20; ++i) {
            const int hundredths = wobble ? 2100 + (i % 2 ? step : -step) : 2100 + i * step;
            feedTemperature(qint16(hundredths));
            // what was last shown never lags the reading by half a degree (plus the rounding)
            const double shown =
                changed.isEmpty() ? 21.0 : changed.last().at(0).toJsonObject().value("t").toDouble();
            QVERIFY2(std::fabs(shown - hundredths / 100.0) <= 0.75, qPrintable(QString::number(i)));
        }
        QCOMPARE(changed.size(), announcements);
    }

    void unitsAndRounding_data()
    {
        QTest::addColumn<int>("hundredths");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("expected");
        QTest::newRow("21.34 C") << 2134 << "Celsius" << 21.5;
        QTest::newRow("21.34 F") << 2134 << "Fahrenheit" << 70.5;
        QTest::newRow("21.34 K") << 2134 << "Kelvin" << 294.5;
        QTest::newRow("-1.25 C, half rounds up") << -125 << "Celsius" << -1.0;
        QTest::newRow("-1.25 F") << -125 << "Fahrenheit" << 30.0;
        QTest::newRow("-1.25 K") << -125 << "Kelvin" << 272.0;
        QTest::newRow("21.25 C, half rounds up") << 2125 << "Celsius" << 21.5;
        QTest::newRow("-273.00 C") << -27300 << "Celsius" << -273.0;
        QTest::newRow("-273.00 F") << -27300 << "Fahrenheit" << -459.5;
        QTest::newRow("-273.00 K") << -27300 << "Kelvin" << 0.0;
        QTest::newRow("max") << 32767 << "Celsius" << 327.5;
        QTest::newRow("capitals") << 2134 << "KELVIN" << 294.5;
        QTest::newRow("unknown unit means Celsius") << 2134 << "Rankine" << 21.5;
    }
    void unitsAndRounding()
    {
        QFETCH(int, hundredths);
        QFETCH(QString, unit);
        QFETCH(double, expected);
        dev->applyTypeSettings({{QStringLiteral("unit"), unit}});
        feedTemperature(qint16(hundredths));
        QCOMPARE(dev->state(), t(expected));
    }

    void belowAbsoluteZeroGivesAnEmptyState()
    {
        feedTemperature(2000);
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        feedTemperature(-32768);
        QVERIFY(dev->state().isEmpty());
        QCOMPARE(changed.size(), 1);
        QVERIFY(changed.at(0).at(0).toJsonObject().isEmpty());
        feedTemperature(-27301);
        QVERIFY(dev->state().isEmpty());
    }

    void unitChangesSignalOnce()
    {
        feedTemperature(2134);
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        dev->applyTypeSettings({{QStringLiteral("unit"), QStringLiteral("Kelvin")}});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toJsonObject(), t(294.5));
        dev->applyTypeSettings({{QStringLiteral("unit"), QStringLiteral("kelvin")}});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(dev->unit(), THX9Device::Kelvin);
        // a missing key means Celsius
        dev->applyTypeSettings({{QStringLiteral("enabled"), true}});
        QCOMPARE(dev->unit(), THX9Device::Celsius);
        QCOMPARE(changed.size(), 2);
    }

    void pollsOnItsTimerAndAnnouncesTheUnplugOnce()
    {
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        QSignalSpy gone(dev.get(), &QAbstractThing::mediumGone);
        dev->setInterval(20);
        sim->injectTemperature(19.0);
        QVERIFY(changed.wait(10000));
        QCOMPARE(dev->state(), t(19.0));
        sim->unplug();
        QVERIFY(gone.wait(10000));
        QTest::qWait(100);
        QCOMPARE(gone.size(), 1);
        QTRY_COMPARE(sim->openCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTHX9Device)
#include "test_thx9device.moc"
