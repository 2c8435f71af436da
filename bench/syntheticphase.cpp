// Scale beyond hardware: the core with a thousand synthetic things, each changing every second, all
// registered siblings of a connected gateway. The core runs in a child of this program so that its
// footprint is its own.

#include "benchrun.h"
#include "corehost.h"
#include "gatewaything.h"
#include "syntheticplugin.h"

#include "qabstractthing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray readLineFrom(QProcess &process, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!process.canReadLine() && timer.elapsed() < timeoutMs && process.state() == QProcess::Running)
        process.waitForReadyRead(100);
    return process.canReadLine() ? process.readLine().trimmed() : QByteArray();
}

} // namespace

int BenchRun::syntheticChildMain(const QString &programDir, bool reportChanges, bool recordHistory)
{
    CoreHost core(programDir);
    if (!core.request(&CxgatewRunner::loadPlugins, CxgatewRunner::Load, 30000).toBool()) {
        say("error plug-ins");
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    if (!core.request(&CxgatewRunner::rescan, CxgatewRunner::Rescan, 300000).toBool()) {
        say("error rescan");
        return 1;
    }
    const qint64 rescanMs = timer.elapsed();
    timer.restart();
    core.request(&CxgatewRunner::connectToCloud, CxgatewRunner::CConnect, 30000, false);
    if (!core.waitConnected(60000)) {
        say("error connect");
        return 1;
    }
    const qint64 connectMs = timer.elapsed();
    int siblings = 0;
    core.onWorker([&siblings, reportChanges, recordHistory](CxgatewRunner *runner) {
        runner->setRecordingHistory(recordHistory);
        for (QAbstractThing *thing : runner->things())
            thing->setReportChanges(reportChanges);
        siblings = runner->gateway()->siblingCount();
    });
    say("ready " + QByteArray::number(siblings) + ' ' + QByteArray::number(rescanMs) + ' ' +
        QByteArray::number(connectMs));

    // Commands on standard input: "report N" times N full reports, "quit" ends.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, int(n));
        while (pending.contains('\n')) {
            const QByteArray line = pending.left(pending.indexOf('\n')).trimmed();
            pending.remove(0, pending.indexOf('\n') + 1);
            if (line.startsWith("report ")) {
                const int repeats = line.mid(7).toInt();
                QByteArray answer = "report";
                for (int i = 0; i < repeats; ++i) {
                    qint64 ns = 0;
                    core.onWorker([&ns](CxgatewRunner *runner) {
                        QElapsedTimer t;
                        t.start();
                        runner->gateway()->reportStates();
                        ns = t.nsecsElapsed();
                    });
                    answer += ' ' + QByteArray::number(double(ns) / 1e6, 'f', 3);
                    // Let the worker send what the report queued before the next one.
                    QEventLoop loop;
                    QTimer::singleShot(500, &loop, &QEventLoop::quit);
                    loop.exec();
                }
                say(answer);
            } else if (line == "quit") {
                QCoreApplication::quit();
            }
        }
    });
    return QCoreApplication::exec();
}

void BenchRun::measureSynthetic()
{
    const int count = m_options.syntheticThings;
    std::fprintf(stderr, "bench: %d synthetic things (%d s)\n", count, m_options.syntheticSeconds);
    QList<PoolEntry> pool;
    for (int i = 0; i < count; ++i)
        pool.append(poolEntry(QStringLiteral("synthetic"), SyntheticPlugin::serialOf(i), 1000 + i));
    writePool(pool);

    // As the program runs (history recorded), then the same without the history, then quiet.
    struct Variant
    {
        bool reportChanges;
        bool history;
        QString prefix;
        QString what;
    };
    const QList<Variant> variants{
        {true, true, QStringLiteral("synthetic"),
         QStringLiteral("%1 synthetic things, each change published and recorded").arg(count)},
        {true, false, QStringLiteral("syntheticNoHistory"),
         QStringLiteral("%1 synthetic things, each change published, no history").arg(count)},
        {false, true, QStringLiteral("syntheticQuiet"),
         QStringLiteral("%1 synthetic things, changes not published").arg(count)}};
    QVector<double> cpuWithHistory, cpuWithout;
    for (const Variant &variant : variants) {
        const bool reportChanges = variant.reportChanges;
        const QString &prefix = variant.prefix;
        const QString &what = variant.what;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LD_PRELOAD"));
        env.remove(QStringLiteral("UMOCKDEV_DIR"));
        env.insert(QStringLiteral("TSL_BENCH_SYNTHETIC_THINGS"), QString::number(count));
        child.setProcessEnvironment(env);
        child.setStandardErrorFile(logPath(prefix + QStringLiteral("-err")));
        QStringList args{QStringLiteral("--core-synthetic"), TSL_BENCH_SYNTHETIC_ROOT "/bin"};
        if (!reportChanges)
            args << QStringLiteral("--no-report-changes");
        if (!variant.history)
            args << QStringLiteral("--no-history");
        child.start(QCoreApplication::applicationFilePath(), args);
        child.waitForStarted(10000);
        const QList<QByteArray> ready = readLineFrom(child, 300000).split(' ');
        if (ready.value(0) != "ready") {
            m_report.addMissing(
                prefix + QStringLiteral(".cpu"), what,
                QStringLiteral("the core did not start: %1").arg(QString::fromUtf8(ready.join(' '))));
            stopProcess(child);
            continue;
        }
        if (reportChanges && variant.history) {
            m_report.addValue(QStringLiteral("synthetic.siblings"),
                              QStringLiteral("Synthetic things registered as siblings"),
                              ready.value(1).toDouble(), QStringLiteral("things"));
            m_report.addValue(QStringLiteral("synthetic.rescan"),
                              QStringLiteral("Scan creating %1 things").arg(count), ready.value(2).toDouble(),
                              QStringLiteral("ms"));
        }
        QThread::sleep(uint(m_options.warmupSeconds));
        const ProcessMeasurement m = measureProcess(child.processId(), m_options.syntheticSeconds,
                                                    qMin(5, m_options.syntheticSeconds), {});
        if (m.ok) {
            addFootprintRows(prefix, what, m);
            if (reportChanges)
                (variant.history ? cpuWithHistory : cpuWithout) = {m.preciseCpuPercent()};
            if (reportChanges && variant.history)
                m_report.setTarget(QStringLiteral("synthetic.cpu"), QStringLiteral("<= 1 %"),
                                   BenchReport::Median, 1.0);
        }
        if (reportChanges && variant.history) {
            child.write("report " + QByteArray::number(m_options.reportRepeats) + '\n');
            const QList<QByteArray> answer = readLineFrom(child, 120000).split(' ');
            QVector<double> times;
            for (int i = 1; i < answer.size(); ++i)
                times.append(answer.at(i).toDouble());
            if (answer.value(0) == "report" && !times.isEmpty()) {
                m_report.addSummary(QStringLiteral("synthetic.fullReport"),
                                    QStringLiteral("Full report of %1 siblings (reportStates)").arg(count),
                                    summarize(times), QStringLiteral("ms"));
                m_report.setTarget(QStringLiteral("synthetic.fullReport"), QStringLiteral("<= 20 ms"),
                                   BenchReport::P99, 20.0);
            } else {
                m_report.addMissing(QStringLiteral("synthetic.fullReport"), QStringLiteral("Full report"),
                                    QStringLiteral("no answer from the core"));
            }
        }
        child.write("quit\n");
        if (!child.waitForFinished(60000))
            stopProcess(child);
    }
    if (!cpuWithHistory.isEmpty() && !cpuWithout.isEmpty()) {
        m_report.addValue(
            QStringLiteral("synthetic.historyCost"),
            QStringLiteral("%1 synthetic things: recording the history, CPU with minus without").arg(count),
            cpuWithHistory.first() - cpuWithout.first(), QStringLiteral("% of one core"),
            QStringLiteral("whole stretches, from the CPU-time clock"));
        m_report.setTarget(QStringLiteral("synthetic.historyCost"), QStringLiteral("<= +0.5 %"),
                           BenchReport::Max, 0.5);
    }
    writePool({});
}
