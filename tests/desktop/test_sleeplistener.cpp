#include "appidentity.h"
#include "runnerharness.h"
#include "simulatedhidbus.h"
#include "sleeplistener.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// A private bus stands in for the system bus, and a second connection on it for logind.
class TestSleepListener : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;
    QString m_address;

    bool emitPrepareForSleep(bool start)
    {
        QDBusConnection login1 = QDBusConnection::connectToBus(m_address, QStringLiteral("login1"));
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                                         QStringLiteral("PrepareForSleep"));
        signal << start;
        return login1.send(signal);
    }

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        ThingState::registerMetaTypes();
        QVERIFY(m_dir.isValid());
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--print-address"),
                     QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus"))});
        QVERIFY2(m_bus.waitForStarted(), "dbus-daemon (Debian package dbus) is needed");
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());

        QDBusConnection login1 = QDBusConnection::connectToBus(m_address, QStringLiteral("login1"));
        QVERIFY(login1.isConnected());
        QVERIFY(login1.registerService(QStringLiteral("org.freedesktop.login1")));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("login1"));
        m_bus.terminate();
        m_bus.waitForFinished(5000);
    }

    // Suspend and resume reach the listener; on wake the runner looks for devices plugged in meanwhile.
    void wakeUpLeadsToRescan()
    {
        SimulatedHidBus hid;
        QVERIFY2(hid.isActive(), "the umockdev preload is not active");
        RunnerHarness harness;
        QVERIFY(harness.request(&CxgatewRunner::loadPlugins, CxgatewRunner::Load).toBool());
        QVERIFY(harness.request(&CxgatewRunner::rescan, CxgatewRunner::Rescan).toBool());
        QCOMPARE(harness.devicesCreated(), 0);

        SleepListener *listener = SleepListener::instance();
        QCOMPARE(SleepListener::instance(), listener);
        QVERIFY(listener->install());
        QVERIFY(listener->install()); // once is enough; again changes nothing
        connect(listener, &SleepListener::didWakeUp, &harness.host(), [&harness] {
            harness.host().call(&CxgatewRunner::rescan);
            harness.host().call(&CxgatewRunner::reconnectCloud);
        });
        QSignalSpy sleeping(listener, &SleepListener::aboutToSleep);
        QSignalSpy woken(listener, &SleepListener::didWakeUp);
        harness.clearRecords();

        QVERIFY(emitPrepareForSleep(true));
        QVERIFY(sleeping.wait(5000));
        QCOMPARE(woken.size(), 0);
        hid.plugSensor(QStringLiteral("S1"));
        QTest::qWait(100);
        QVERIFY(harness.completions().isEmpty()); // nothing is asked of the runner before sleep

        QVERIFY(emitPrepareForSleep(false));
        QVERIFY(woken.wait(5000));
        QCOMPARE(sleeping.size(), 1);
        QVERIFY(harness.waitForCompletion(CxgatewRunner::Rescan).toBool());
        QVERIFY(harness.waitForCompletion(CxgatewRunner::CConnect).toBool());
        QCOMPARE(harness.devicesCreated(), 1);
        hid.unplug(QStringLiteral("S1"));
    }
};

QTEST_GUILESS_MAIN(TestSleepListener)
#include "test_sleeplistener.moc"
