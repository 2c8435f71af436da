#include "appidentity.h"
#include "devicepool.h"
#include "gatewaything.h"
#include "historyreader.h"
#include "runnerhost.h"

#include <QDateTime>
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
    void changesLeaveInBatchesAndAreRecorded();
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

// A burst of changes crosses to the main thread as one batch, in order, ahead of the completion of
// the request that follows it; the history holds every state, and a gap from the stop on.
void TestRunnerHost::changesLeaveInBatchesAndAreRecorded()
{
    QTemporaryDir dir;
    RunnerHost host(dir.path() + "/bin");
    QList<ThingStateList> arrivals; // an empty entry marks the completion of listThings
    connect(&host, &RunnerHost::thingsChanged, this, [&](const ThingStateList &batch) { arrivals << batch; });
    connect(&host, &RunnerHost::finished, this, [&](int op) {
        if (op == CxgatewRunner::Lsthings)
            arrivals << ThingStateList();
    });
    const qint64 from = QDateTime::currentMSecsSinceEpoch();
    host.start();
    constexpr int Changes = 1000;
    host.post([](CxgatewRunner *runner) {
        for (int i = 0; i < Changes; ++i)
            emit runner->gateway()->stateChanged({{"n", i}});
    });
    host.call(&CxgatewRunner::listThings);
    QTRY_VERIFY(!arrivals.isEmpty() && arrivals.last().isEmpty());
    QCOMPARE(arrivals.size(), 2);
    QCOMPARE(arrivals.first().size(), Changes);
    for (int i = 0; i < Changes; ++i)
        QCOMPARE(arrivals.first().at(i).state.value("n").toInt(), i);

    host.stop();
    HistoryReader reader;
    QVERIFY(reader.open(CxgatewRunner::historyDirectory()));
    const qint64 to = QDateTime::currentMSecsSinceEpoch() + 1;
    const QString gateway = arrivals.first().first().shortid;
    const HistorySeries series = reader.series(gateway, "n", from, to, 1);
    QCOMPARE(series.buckets.size(), 1);
    // One value per millisecond is kept: the last of each, so the burst ends as it did.
    QVERIFY(series.buckets.first().count >= 1);
    QCOMPARE(series.buckets.first().last, double(Changes - 1));
    QCOMPARE(series.buckets.first().max, double(Changes - 1));
    QVERIFY(!series.gaps.isEmpty()); // an earlier run's stop may show as one more
    QCOMPARE(series.gaps.last().end, qint64(0));
    QVERIFY(series.gaps.last().start >= series.buckets.first().lastTime);
}

QTEST_GUILESS_MAIN(TestRunnerHost)
#include "test_runnerhost.moc"
