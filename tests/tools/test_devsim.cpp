#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

namespace {

QString tool(const QString &name)
{
    return qEnvironmentVariable("TSL_TEST_BUILD_DIR") + QStringLiteral("/bin/") + name;
}

// Output lines of a running process, collected as they come.
struct Lines
{
    QStringList lines;
    QByteArray partial;
    void take(QProcess &p)
    {
        partial += p.readAllStandardOutput();
        int end;
        while ((end = partial.indexOf('\n')) >= 0) {
            lines << QString::fromUtf8(partial.left(end));
            partial.remove(0, end + 1);
        }
    }
};

// The processes that pid started (any of its threads may have).
QList<qint64> childProcesses(qint64 pid)
{
    QList<qint64> found;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/children")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : file.readAll().simplified().split(' ')) {
            if (!child.isEmpty())
                found << child.toLongLong();
        }
    }
    return found;
}

bool alive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
}

} // namespace

class TestDevsim : public QObject
{
    Q_OBJECT

private slots:
    void runsAProgramThatSeesTheDevices()
    {
        QProcess sim;
        sim.start(tool(QStringLiteral("tsl-devsim")),
                  {"--sensor", "A1B2", "--sensor", "C3:IOT DS18B20", "--watchdog", "WD01:VGL HID Interface",
                   "--no-stdin", "--", tool(QStringLiteral("tsl-hidls"))});
        QVERIFY(sim.waitForFinished(60000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        const QStringList out =
            QString::fromUtf8(sim.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(out.value(0).startsWith(QStringLiteral("UMOCKDEV_DIR=/")), qPrintable(out.join('|')));
        QStringList devices = out.mid(1);
        devices.sort();
        QCOMPARE(devices, (QStringList{"0483:a26a A1B2 \"IOT DS18B20 HID\"", "0483:a26a C3 \"IOT DS18B20\"",
                                       "0483:a26d WD01 \"VGL HID Interface\""}));
    }

    void passesTheProgramsExitCode()
    {
        QProcess sim;
        sim.start(tool(QStringLiteral("tsl-devsim")), {"--no-stdin", "--", "sh", "-c", "exit 7"});
        QVERIFY(sim.waitForFinished(60000));
        QCOMPARE(sim.exitCode(), 7);
        sim.start(tool(QStringLiteral("tsl-devsim")), {"--no-stdin", "--", "/nonexistent/program"});
        QVERIFY(sim.waitForFinished(60000));
        QCOMPARE(sim.exitCode(), 127);
    }

    void endsItsProgramAndTestbedOnSignals_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void endsItsProgramAndTestbedOnSignals()
    {
        QFETCH(int, sig);
        QProcess sim;
        sim.start(tool(QStringLiteral("tsl-devsim")),
                  {"--sensor", "A1B2", "--no-stdin", "--", "sleep", "60"});
        QVERIFY(sim.waitForStarted());
        Lines out;
        QTRY_VERIFY_WITH_TIMEOUT((out.take(sim), !out.lines.isEmpty()), 30000);
        const QString dir = out.lines.at(0).section(QLatin1Char('='), 1);
        QVERIFY2(QFileInfo(dir).isDir(), qPrintable(out.lines.at(0)));
        QList<qint64> tree;
        QTRY_VERIFY_WITH_TIMEOUT(!(tree = childProcesses(sim.processId())).isEmpty(), 10000);

        ::kill(pid_t(sim.processId()), sig);
        QVERIFY(sim.waitForFinished(30000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 128 + sig);
        QVERIFY2(!QFileInfo::exists(dir), qPrintable(dir));
        for (qint64 pid : tree)
            QTRY_VERIFY2(!alive(pid), qPrintable(QString::number(pid)));
    }

    void takesCommandsFromAFifo()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("ctl"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QProcess sim;
        sim.start(tool(QStringLiteral("tsl-devsim")), {"--ctl", fifo, "--no-stdin"});
        QVERIFY(sim.waitForStarted());
        Lines out;
        QTRY_VERIFY_WITH_TIMEOUT((out.take(sim), !out.lines.isEmpty()), 30000);
        QVERIFY(out.lines.at(0).startsWith(QStringLiteral("UMOCKDEV_DIR=")));

        QFile ctl(fifo);
        QVERIFY(ctl.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        ctl.write("plug sensor S1 IOT DS18B20\nplug watchdog W1\nbogus\nlist\n");
        QTRY_VERIFY_WITH_TIMEOUT((out.take(sim), out.lines.size() >= 3), 30000);
        QCOMPARE(out.lines.mid(1), (QStringList{"0483:a26a S1 \"IOT DS18B20\" /dev/hidraw0",
                                                "0483:a26d W1 \"USB Watchdog\" /dev/hidraw1"}));
        ctl.write("unplug S1\noutputs W1\nstatus W1 1 2 3\nlist\n");
        QTRY_VERIFY_WITH_TIMEOUT((out.take(sim), out.lines.size() >= 5), 30000);
        QCOMPARE(out.lines.mid(3), (QStringList{"none", "0483:a26d W1 \"USB Watchdog\" /dev/hidraw1"}));
        const QString errors = QString::fromUtf8(sim.readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("unknown command bogus")), qPrintable(errors));
        QVERIFY2(errors.contains(QStringLiteral("usage: status")), qPrintable(errors));

        ctl.write("quit\n");
        QVERIFY(sim.waitForFinished(30000));
        QCOMPARE(sim.exitCode(), 0);
    }

    void probeShowsThePluginsAtWork()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("ctl"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QProcess sim;
        sim.start(tool(QStringLiteral("tsl-devsim")),
                  {"--sensor", "A1B2", "--temp", "A1B2=21.34", "--watchdog", "WD01", "--ctl", fifo,
                   "--no-stdin", "--", tool(QStringLiteral("tsl-thingprobe")), "--seconds", "60", "--rescan",
                   "200"});
        QVERIFY(sim.waitForStarted());
        QFile ctl(fifo);
        QVERIFY(ctl.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        Lines out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out.take(sim), out.lines.contains("watchdog_100_WD01 stateChanged {\"ch3\":null,\"flags\":1}")),
            30000);
        QVERIFY2(out.lines.contains(QStringLiteral("thx9_100_A1B2 created {\"t\":21.5}")),
                 qPrintable(out.lines.join('|')));

        ctl.write("temp A1B2 -5\nstatus W1 0 0 0 0\nstatus WD01 0 0 3 21 0x88 0x13\n");
        QTRY_VERIFY_WITH_TIMEOUT((out.take(sim), out.lines.contains("thx9_100_A1B2 stateChanged {\"t\":-5}")),
                                 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            (out.take(sim), out.lines.contains("watchdog_100_WD01 stateChanged {\"ch3\":21.5,\"flags\":1}")),
            30000);
        ctl.write("outputs WD01\n");
        QTRY_VERIFY_WITH_TIMEOUT((out.take(sim), out.lines.last().startsWith(QStringLiteral("0101"))), 30000);

        // unplugged and back: the probe loses the sensor and finds it again on its next scan
        ctl.write("unplug A1B2\n");
        QTRY_VERIFY_WITH_TIMEOUT((out.take(sim), out.lines.contains("thx9_100_A1B2 mediumGone")), 30000);
        ctl.write("plug sensor A1B2\n");
        QTRY_VERIFY_WITH_TIMEOUT(
            (out.take(sim), out.lines.count(QStringLiteral("thx9_100_A1B2 created {\"t\":-5}")) == 1), 30000);
        ctl.write("quit\n");
        QVERIFY(sim.waitForFinished(30000));
    }
};

QTEST_GUILESS_MAIN(TestDevsim)
#include "test_devsim.moc"
