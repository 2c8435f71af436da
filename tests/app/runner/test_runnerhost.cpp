#include "appidentity.h"
#include "devicepool.h"
#include "runnerhost.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

class TestRunnerHost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init() { QSettings().clear(); }

    void requestsRunInOrderOnTheWorker();
    void stoppedHostDropsRequests();
};

void TestRunnerHost::requestsRunInOrderOnTheWorker()
{
    QTemporaryDir dir; // no plug-ins: the gateway thing alone
    RunnerHost host(dir.path() + "/bin");
    QList<int> ops;
    QList<QVariant> results;
    QSet<QThread *> signalThreads;
    connect(&host, &RunnerHost::finished, this, [&](int op, const QVariant &result) {
        ops.append(op);
        results.append(result);
        signalThreads.insert(QThread::currentThread());
    });
    std::atomic<QThread *> worker{nullptr};

    // Queued before the thread runs; typed arguments arrive as given.
    host.call(&CxgatewRunner::listThings);
    host.post([&worker](CxgatewRunner *runner) {
        worker = QThread::currentThread();
        QCOMPARE(runner->things().size(), 0);
    });
    host.call(&CxgatewRunner::renameThing, "gateway_200_?", "Home");
    host.start();
    QTRY_COMPARE(ops, (QList<int>{CxgatewRunner::Lsthings, CxgatewRunner::TRename}));
    QCOMPARE(results.last(), QVariant(true));
    QVERIFY(worker.load() && worker.load() != QThread::currentThread());
    QCOMPARE(signalThreads, QSet<QThread *>{QThread::currentThread()});
}

void TestRunnerHost::stoppedHostDropsRequests()
{
    QTemporaryDir dir;
    // Never started: the runner still ends on its own thread and saves the pool.
    {
        RunnerHost idle(dir.path() + "/bin");
    }
    QCOMPARE(DevicePool::entries().size(), 1);
    QCOMPARE(DevicePool::entries().constFirst().type, QStringLiteral("gateway"));

    RunnerHost host(dir.path() + "/bin");
    int completions = 0;
    connect(&host, &RunnerHost::finished, this, [&] { ++completions; });
    host.start();
    host.stop();
    host.stop();
    QVERIFY(!host.runner());
    bool ran = false;
    host.call(&CxgatewRunner::rescan);
    host.post([&ran](CxgatewRunner *) { ran = true; });
    QTest::qWait(100);
    QVERIFY(!ran);
    QCOMPARE(completions, 0);
}

QTEST_GUILESS_MAIN(TestRunnerHost)
#include "test_runnerhost.moc"
