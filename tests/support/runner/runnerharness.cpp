#include "runnerharness.h"

#include <QCoreApplication>
#include <QDir>
#include <QSequentialIterable>
#include <QTest>

#include <memory>

namespace {
// Test binaries and tools share the build tree's plugins/ and lib/ through bin/.
QString programDirOr(const QString &programDir)
{
    if (!programDir.isEmpty())
        return programDir;
    const QString dir = qEnvironmentVariable("TSL_TEST_BUILD_DIR") + QStringLiteral("/bin");
    QDir().mkpath(dir);
    return dir;
}
} // namespace

RunnerHarness::RunnerHarness(const QString &programDir) : m_host(programDirOr(programDir))
{
    connect(&m_host, &RunnerHost::finished, this, &RunnerHarness::runner_finished);
    connect(&m_host, &RunnerHost::thingsChanged, this, [this](const ThingStateList &batch) {
        for (const ThingState &thing : batch)
            runner_thingChanged(thing);
    });
    connect(&m_host, &RunnerHost::connectivityChanged, this, [this](bool on) { m_connectivity.append(on); });
    connect(&m_host, &RunnerHost::deviceCreated, this, [this](QObject *) { ++m_devicesCreated; });
    m_host.start();
}

RunnerHarness::~RunnerHarness()
{
    // The runner is deleted on the worker as the thread finishes (saving the pool, stopping the
    // cloud, releasing the things and the libraries).
    m_host.stop();
}

void RunnerHarness::sync()
{
    // Shared, so that a late answer after a timeout still has somewhere to go.
    const auto done = std::make_shared<bool>(false);
    m_host.post([this, done](CxgatewRunner *) {
        QMetaObject::invokeMethod(
            this, [done] { *done = true; }, Qt::QueuedConnection);
    });
    QTRY_VERIFY_WITH_TIMEOUT(*done, 15000);
}

QVariant RunnerHarness::waitForCompletion(int op, int from, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        for (int i = from; i < m_finished.size(); ++i) {
            if (m_finished.at(i).first == op)
                return m_finished.at(i).second;
        }
        if (timer.elapsed() > timeoutMs)
            return QVariant();
        QTest::qWait(10);
    }
}

QList<QVariant> RunnerHarness::resultsOf(int op) const
{
    QList<QVariant> results;
    for (const Completion &c : m_finished) {
        if (c.first == op)
            results.append(c.second);
    }
    return results;
}

void RunnerHarness::clearRecords()
{
    m_finished.clear();
    m_rows.clear();
    m_connectivity.clear();
}

QList<ThingState> RunnerHarness::rowsOf(const QString &shortid) const
{
    QList<ThingState> rows;
    for (const ThingState &row : m_rows) {
        if (row.shortid == shortid)
            rows.append(row);
    }
    return rows;
}

bool RunnerHarness::waitForRow(const QString &shortid, const std::function<bool(const ThingState &)> &match,
                               int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    do {
        for (const ThingState &row : qAsConst(m_rows)) {
            if (row.shortid == shortid && match(row))
                return true;
        }
        QTest::qWait(10);
    } while (timer.elapsed() < timeoutMs);
    return false;
}

ThingStateList RunnerHarness::things()
{
    const QVariant result = request(&CxgatewRunner::listThings, CxgatewRunner::Lsthings);
    ThingStateList list;
    // Read it as the window does: as a sequence of ThingState variants.
    if (result.canConvert<QVariantList>()) {
        for (const QVariant &item : result.value<QSequentialIterable>())
            list.append(item.value<ThingState>());
    }
    return list;
}

void RunnerHarness::runner_finished(int op, const QVariant &result)
{
    m_finished.append({op, result});
}

void RunnerHarness::runner_thingChanged(const ThingState &thing)
{
    m_rows.append(thing);
}
