#include "simulatedhidbus.h"
#include "vgl5device.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <hidapi.h>

#include <memory>

namespace {

const QVariant WatchdogId(0x0483A26Du);
const QByteArray KeepAlive("\x01\x01", 2);
const QByteArray ResetCommand("\x01\x02", 2);
const QByteArray HardResetCommand("\x01\x03", 2);

QJsonObject watchdogState(int flags, const QJsonValue &ch3)
{
    return {{QStringLiteral("flags"), flags}, {QStringLiteral("ch3"), ch3}};
}

QHash<QString, QVariant> settings(bool ping, bool rst, bool pwr)
{
    return {{QStringLiteral("ping"), ping}, {QStringLiteral("rst"), rst}, {QStringLiteral("pwr"), pwr}};
}

} // namespace

class TestVGL5Device : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimulatedHidBus> bus;
    SimulatedHidDevice *sim = nullptr;
    std::unique_ptr<VGL5Device> dev;

    // A device whose polls are driven by hand unless an interval is given.
    void openDevice(int interval = 3600 * 1000)
    {
        dev.reset(new VGL5Device);
        QCOMPARE(dev->interval(), 2500);
        dev->setInterval(interval);
        QVERIFY(dev->open(QStringLiteral("WD01"), WatchdogId));
        dev->applyTypeSettings(settings(true, false, false));
    }

private slots:
    void initTestCase() { QCOMPARE(hid_init(), 0); }
    void cleanupTestCase() { QCOMPARE(hid_exit(), 0); }
    void init()
    {
        bus.reset(new SimulatedHidBus);
        QVERIFY2(bus->isActive(), "HID tests must run with the umockdev preload (LD_PRELOAD)");
        sim = bus->plugWatchdog(QStringLiteral("WD01"));
    }
    void cleanup()
    {
        dev.reset();
        bus.reset();
    }

    void identityAndFirstPoll()
    {
        openDevice();
        QCOMPARE(dev->type(), QStringLiteral("watchdog"));
        QCOMPARE(dev->version(), QStringLiteral("100"));
        QCOMPARE(dev->thingClass(), QAbstractThing::Sibling);
        QCOMPARE(dev->serial(), QStringLiteral("WD01"));
        // open does not poll; the state stays empty until the first poll
        QCOMPARE(sim->outputCount(), 0);
        QVERIFY(dev->state().isEmpty());

        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        dev->doPoll();
        QCOMPARE(sim->takeOutputs(), QList<QByteArray>{KeepAlive});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toJsonObject(), watchdogState(1, QJsonValue::Null));
        // nothing changed, nothing announced; the keep-alive goes out every time
        dev->doPoll();
        dev->doPoll();
        QCOMPARE(changed.size(), 1);
        QCOMPARE(sim->takeOutputs(), (QList<QByteArray>{KeepAlive, KeepAlive}));
    }

    void failedOpen()
    {
        VGL5Device other;
        QVERIFY(!other.open(QStringLiteral("WD02"), WatchdogId));
        QCOMPARE(other.serial(), QStringLiteral("WD02"));
        QVERIFY(!other.sendCommand(VGL5Device::KeepAlive));
        other.doPoll();
        QVERIFY(other.state().isEmpty());
        QCOMPARE(sim->requestCount(), 0);
    }

    void temperatureDecoding_data()
    {
        QTest::addColumn<QByteArray>("status"); // bytes 1 to 6 of feature report 4
        QTest::addColumn<QJsonValue>("ch3");
        auto row = [](const char *name, std::initializer_list<uchar> b, const QJsonValue &v) {
            QByteArray s;
            for (uchar c : b)
                s.append(char(c));
            QTest::newRow(name) << s << v;
        };
        row("no sensor", {0, 0, 0, 0x15, 0, 0}, QJsonValue::Null);
        row("kind 1 is unsigned", {0, 0, 1, 0xC8, 0, 0}, 200.0);
        row("kind 2 whole degrees", {0, 0, 2, 0x15, 0x88, 0x13}, 21.0);
        row("kind 3 with a half", {0, 0, 3, 0x15, 0x88, 0x13}, 21.5);
        row("kind 3 keeps tenths only", {0, 0, 3, 0x15, 0xE7, 0x03}, 21.0);
        row("kind 3 fraction always added", {0, 0, 3, 0xFB, 0x88, 0x13}, -4.5);
        row("kind 3 largest fraction", {0, 0, 3, 0x02, 0xFF, 0xFF}, 8.5);
        row("kind 3 none", {0, 0, 3, 0xFF, 0x88, 0x13}, QJsonValue::Null);
        row("kind 3 zero", {0, 0, 3, 0x00, 0x00, 0x00}, 0.0);
        row("unknown kind", {0, 0, 7, 0x15, 0, 0}, QJsonValue::Null);
        row("no second status", {0x12, 0xFF, 3, 0x15, 0x88, 0x13}, QJsonValue::Null);
        row("other status bytes", {0x12, 0x34, 1, 0x15, 0, 0}, 21.0);
    }
    void temperatureDecoding()
    {
        QFETCH(QByteArray, status);
        QFETCH(QJsonValue, ch3);
        const auto b = [&status](int i) { return uchar(status.at(i)); };
        sim->setWatchdogStatus(b(0), b(1), b(2), b(3), b(4), b(5));
        openDevice();
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        dev->doPoll();
        QCOMPARE(changed.size(), 1);
        QCOMPARE(dev->state(), watchdogState(1, ch3));
        const QJsonValue reported = dev->state().value(QStringLiteral("ch3"));
        QCOMPARE(reported.type(), ch3.type());
    }

    void changesThatCount()
    {
        openDevice();
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        dev->doPoll();
        QCOMPARE(changed.size(), 1);

        sim->setWatchdogStatus(1, 0, 0, 0); // status
        dev->doPoll();
        QCOMPARE(changed.size(), 2);
        sim->setWatchdogStatus(1, 2, 0, 0); // second status
        dev->doPoll();
        QCOMPARE(changed.size(), 3);
        sim->setWatchdogStatus(1, 2, 1, 21); // temperature
        dev->doPoll();
        QCOMPARE(changed.size(), 4);
        QCOMPARE(dev->state(), watchdogState(1, 21.0));
        // another sensor kind with the same value is no change
        sim->setWatchdogStatus(1, 2, 3, 21, 0x10, 0x00);
        dev->doPoll();
        QCOMPARE(changed.size(), 4);
        // bytes past the temperature do not matter
        QByteArray report(17, 0);
        report[0] = 4;
        report[1] = 1;
        report[2] = 2;
        report[3] = 1;
        report[4] = 21;
        report[16] = char(0x99);
        sim->setFeature(report);
        dev->doPoll();
        QCOMPARE(changed.size(), 4);
        // losing the second status clears the temperature too
        sim->setWatchdogStatus(1, 0xFF, 1, 21);
        dev->doPoll();
        QCOMPARE(changed.size(), 5);
        QCOMPARE(dev->state(), watchdogState(1, QJsonValue::Null));
    }

    void publicationHandshake()
    {
        openDevice();
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        // An acknowledgement before the first poll (an empty state went out) keeps the flag for
        // the first real state.
        dev->statePublished();
        QCOMPARE(changed.size(), 0);
        dev->doPoll();
        QCOMPARE(dev->state().value("flags").toInt(), 1);
        QCOMPARE(changed.size(), 1);
        dev->statePublished();
        QCOMPARE(changed.size(), 2);
        QCOMPARE(changed.at(1).at(0).toJsonObject(), watchdogState(0, QJsonValue::Null));
        dev->statePublished();
        QCOMPARE(changed.size(), 2);
        QCOMPARE(dev->state(), watchdogState(0, QJsonValue::Null));
    }

    void noKeepAliveWithPingOff()
    {
        openDevice();
        dev->applyTypeSettings(settings(false, false, false));
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        const int ioctls = sim->ioctlCount();
        dev->doPoll();
        dev->doPoll();
        QCOMPARE(sim->outputCount(), 0);
        QCOMPARE(sim->ioctlCount(), ioctls + 2); // the status is still read
        QCOMPARE(changed.size(), 1);
    }

    void remoteCommands_data()
    {
        QTest::addColumn<bool>("rst");
        QTest::addColumn<bool>("pwr");
        QTest::addColumn<QJsonObject>("update");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("gone");
        const QList<QByteArray> none;
        QTest::newRow("hard reset wins") << true << true << QJsonObject{{"rst", 1}, {"pwr", 1}}
                                         << QList<QByteArray>{HardResetCommand} << false << true;
        QTest::newRow("only reset allowed") << true << false << QJsonObject{{"rst", 1}, {"pwr", 1}}
                                            << QList<QByteArray>{ResetCommand} << false << false;
        QTest::newRow("hard reset alone") << false << true << QJsonObject{{"pwr", 1}}
                                          << QList<QByteArray>{HardResetCommand} << false << true;
        QTest::newRow("true is not 1") << true << true << QJsonObject{{"rst", true}} << none << true << false;
        QTest::newRow("text is not 1") << true << true << QJsonObject{{"rst", "1"}} << none << true << false;
        QTest::newRow("2 is not 1") << true << true << QJsonObject{{"pwr", 2}} << none << true << false;
        QTest::newRow("not allowed") << false << false << QJsonObject{{"rst", 1}, {"pwr", 1}} << none << true
                                     << false;
        QTest::newRow("nothing asked") << true << true << QJsonObject{{"flags", 0}} << none << true << false;
    }
    void remoteCommands()
    {
        QFETCH(bool, rst);
        QFETCH(bool, pwr);
        QFETCH(QJsonObject, update);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(bool, result);
        QFETCH(bool, gone);
        openDevice(20);
        dev->applyTypeSettings(settings(false, rst, pwr));
        QSignalSpy lost(dev.get(), &QAbstractThing::mediumGone);
        QCOMPARE(dev->setState(update), result);
        QCOMPARE(sim->takeOutputs(), sent);
        QCOMPARE(lost.size(), gone ? 1 : 0);
        // a re-enumerating device is announced once: its poll timer stops with it; otherwise polling
        // carries on
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        QTest::qWait(200);
        QCOMPARE(lost.size(), gone ? 1 : 0);
        if (gone) {
            QTRY_COMPARE(sim->openCount(), 0);
            QCOMPARE(changed.size(), 0);
            QVERIFY(!dev->sendCommand(VGL5Device::KeepAlive));
        } else {
            QTRY_COMPARE(changed.size(), 1);
        }
    }

    void failedCommandIsReportedAsNothingSent()
    {
        openDevice();
        dev->applyTypeSettings(settings(true, true, true));
        sim->setWritesFail(true);
        QSignalSpy lost(dev.get(), &QAbstractThing::mediumGone);
        QVERIFY(dev->setState({{QStringLiteral("pwr"), 1}}));
        QCOMPARE(lost.size(), 0);
    }

    void failedKeepAliveEndsTheDevice()
    {
        openDevice();
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        QSignalSpy lost(dev.get(), &QAbstractThing::mediumGone);
        dev->doPoll();
        sim->setWritesFail(true);
        const int ioctls = sim->ioctlCount();
        dev->doPoll();
        QCOMPARE(lost.size(), 1);
        QCOMPARE(sim->ioctlCount(), ioctls); // no status read after the failed keep-alive
        QTRY_COMPARE(sim->openCount(), 0);
        const int requests = sim->requestCount();
        dev->doPoll();
        QCOMPARE(sim->requestCount(), requests);
        QCOMPARE(lost.size(), 1);
        QCOMPARE(changed.size(), 1);
    }

    void badStatusReadEndsTheDevice_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::newRow("short") << QByteArray("\x04\x00\x00\x01\x15", 5);
        QTest::newRow("one byte short") << QByteArray(16, '\x04');
        QTest::newRow("stalled") << QByteArray();
    }
    void badStatusReadEndsTheDevice()
    {
        QFETCH(QByteArray, report);
        openDevice(20);
        QSignalSpy lost(dev.get(), &QAbstractThing::mediumGone);
        if (report.isEmpty())
            sim->removeFeature(4);
        else
            sim->setFeature(report);
        QVERIFY(lost.wait(10000));
        QVERIFY(dev->state().isEmpty());
        QTRY_COMPARE(sim->openCount(), 0);
        const int requests = sim->requestCount();
        QTest::qWait(150);
        QCOMPARE(lost.size(), 1);
        QCOMPARE(sim->requestCount(), requests);
    }

    void unplugDuringPolling()
    {
        openDevice(20);
        QSignalSpy changed(dev.get(), &QAbstractThing::stateChanged);
        QSignalSpy lost(dev.get(), &QAbstractThing::mediumGone);
        QVERIFY(changed.wait(10000)); // the first poll comes one period after open
        QVERIFY(sim->waitForOutputs(1, 10000));
        sim->unplug();
        QVERIFY(lost.wait(10000));
        const int requests = sim->requestCount();
        QTest::qWait(150);
        QCOMPARE(lost.size(), 1);
        QCOMPARE(sim->requestCount(), requests);
    }

    void reopenStartsOver()
    {
        openDevice();
        dev->doPoll();
        SimulatedHidDevice *second = bus->plugWatchdog(QStringLiteral("WD02"));
        QVERIFY(dev->open(QStringLiteral("WD02"), WatchdogId));
        QTRY_COMPARE(sim->openCount(), 0);
        QCOMPARE(second->openCount(), 1);
        QCOMPARE(dev->serial(), QStringLiteral("WD02"));
        dev->doPoll();
        QCOMPARE(second->takeOutputs(), QList<QByteArray>{KeepAlive});
    }
};

QTEST_GUILESS_MAIN(TestVGL5Device)
#include "test_vgl5device.moc"
