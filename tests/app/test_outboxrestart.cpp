// tsl-gated as a process: reports queued while the broker is down survive a SIGKILL and reach the
// broker, all of them and in order, after the next start. The reports come from synthetic things
// (no hardware, a change every 10 ms each) so that 10 000 of them pile up in seconds; simulated HID
// devices change at most once a second.

#include "appidentity.h"
#include "calvexcloudclient.h"
#include "devicepool.h"
#include "eventwait.h"
#include "mosquittobroker.h"
#include "mosquittosubscriber.h"
#include "outbox.h"
#include "settingskeys.h"
#include "testpki.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

const QString GatewaySerial = QStringLiteral("5521");
const QString GatewayRegid = QStringLiteral("9");
constexpr int Things = 50;
constexpr int Reports = 10000;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The outbox as a killed process left it: "things/<tid>/state <payload>" in queue order.
QStringList storedReports(const QString &path)
{
    QStringList rows;
    sqlite3 *db = nullptr;
    sqlite3_stmt *select = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT tid, payload FROM outbox ORDER BY id", -1, &select, nullptr) ==
            SQLITE_OK) {
        while (sqlite3_step(select) == SQLITE_ROW) {
            rows.append(
                QStringLiteral("things/%1/state %2")
                    .arg(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(select, 0))),
                         QString::fromUtf8(static_cast<const char *>(sqlite3_column_blob(select, 1)),
                                           sqlite3_column_bytes(select, 1))));
        }
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return rows;
}

} // namespace

class TestOutboxRestart : public QObject
{
    Q_OBJECT

    QTemporaryDir m_program;
    QByteArray m_output;

    // tsl-gated copied beside a plug-in directory that holds only the synthetic plug-in.
    bool installProgram()
    {
        const QString bin = qEnvironmentVariable("TSL_TEST_BUILD_DIR") + QStringLiteral("/bin/tsl-gated");
        const QString copy = m_program.filePath(QStringLiteral("tsl-gated"));
        return QFile::copy(bin, copy) &&
               QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
               QDir(m_program.path()).mkdir(QStringLiteral("plugins")) &&
               QFile::link(QStringLiteral(TSL_TEST_SYNTHETIC_PLUGIN),
                           m_program.filePath(QStringLiteral("plugins/libthing_synthetic.so")));
    }

    void startGated(QProcess &gated)
    {
        m_output.clear();
        gated.setProgram(m_program.filePath(QStringLiteral("tsl-gated")));
        gated.setArguments(
            {QStringLiteral("--report-changes"), QStringLiteral("--rescan"), QStringLiteral("3600")});
        gated.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        connect(&gated, &QProcess::readyReadStandardOutput, this,
                [this, &gated] { m_output += gated.readAllStandardOutput(); });
        gated.start();
    }

    // The largest "waiting" figure tsl-gated printed so far.
    int printedBacklog() const
    {
        int most = -1;
        QRegularExpressionMatchIterator it = QRegularExpression(QStringLiteral("backlog waiting=(\\d+)"))
                                                 .globalMatch(QString::fromUtf8(m_output));
        while (it.hasNext())
            most = qMax(most, it.next().captured(1).toInt());
        return most;
    }

    // The gateway's credentials, its pool of synthetic things and its settings, the broker given.
    void prepareGateway(const MosquittoBroker &broker)
    {
        const TestPki::Identity identity =
            TestPki::instance().client(QStringLiteral("gateway_200_%1_%2").arg(GatewaySerial, GatewayRegid));
        QVERIFY(
            CalvexCloudClient().storeCredentials(readFile(identity.certPath), readFile(identity.keyPath)));
        QFile::remove(Outbox::defaultPath());
        QList<PoolEntry> pool;
        for (int i = 0; i < Things; ++i) {
            const QString serial = QStringLiteral("S%1").arg(i, 4, 10, QLatin1Char('0'));
            pool.append(
                {QStringLiteral("synthetic"), QStringLiteral("100"), serial, serial, QString::number(i + 1)});
        }
        pool.append({QStringLiteral("gateway"), QStringLiteral("200"), GatewaySerial, QStringLiteral("gw"),
                     GatewayRegid});
        DevicePool::store(pool);
        QSettings settings;
        settings.setValue(Key::CloudSerial, GatewaySerial);
        settings.setValue(Key::CloudHost, broker.host());
        settings.setValue(Key::CloudPort, broker.port());
        settings.setValue(Key::plugin(QStringLiteral("synthetic"), QStringLiteral("period")), 10);
    }

    // Runs tsl-gated with the broker down until Reports wait, kills it, and returns what it left
    // (empty when fewer piled up).
    QStringList pileUpOffline()
    {
        QProcess first;
        startGated(first);
        const bool piled = waitUntil([&] { return printedBacklog() >= Reports; }, 60000);
        first.kill();
        first.waitForFinished(10000);
        const QStringList stored = storedReports(Outbox::defaultPath());
        if (!piled || stored.size() < Reports) {
            qWarning("only %d reports were stored", int(stored.size()));
            return {};
        }
        qInfo("%d reports were waiting at the kill; the last: %s", int(stored.size()),
              qPrintable(stored.last()));
        // New reports come slower from now on, so that a backlog can run dry.
        QSettings().setValue(Key::plugin(QStringLiteral("synthetic"), QStringLiteral("period")), 1000);
        return stored;
    }

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        QVERIFY(TestPki::instance().isValid());
        qputenv("TSL_GATE_CA_BUNDLE", TestPki::instance().caPath().toUtf8());
        qputenv("TSL_BENCH_SYNTHETIC_THINGS", QByteArray::number(Things));
        QVERIFY(installProgram());
    }

    void reportsOutliveSigkill()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        broker.stop(); // its port stays reserved for the restart below; nothing listens meanwhile
        prepareGateway(broker);

        // Offline: the reports pile up in the outbox until the process is killed.
        const QStringList stored = pileUpOffline();
        QVERIFY(!stored.isEmpty());

        // Online: everything stored arrives first, in order, each report once.
        QVERIFY(broker.restart());
        MosquittoSubscriber subscriber(broker, QStringLiteral("things/+/state"));
        QVERIFY(subscriber.waitForSubscribed());
        QProcess second;
        startGated(second);
        QVERIFY2(subscriber.waitForLines(stored.size(), 60000),
                 qPrintable(QString::fromUtf8(m_output.right(2000))));
        QCOMPARE(subscriber.lines().mid(0, stored.size()), stored);
        QVERIFY(waitUntil([&] { return m_output.contains("backlog waiting=0 "); }, 10000));
        second.terminate();
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
    }

    // Killed in the middle of the drain with 20 reports in flight and started again: nothing is
    // missing and nothing reordered. The reports sent twice are the last ones the killed process
    // had in flight or had acknowledged without committing: they go again in order, from the oldest.
    void drainSurvivesSigkill()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        broker.stop();
        prepareGateway(broker);
        QSettings().setValue(Key::CloudInFlight, 20);
        const QStringList stored = pileUpOffline();
        QVERIFY(!stored.isEmpty());

        QVERIFY(broker.restart());
        MosquittoSubscriber subscriber(broker, QStringLiteral("things/+/state"));
        QVERIFY(subscriber.waitForSubscribed());
        QProcess draining;
        startGated(draining);
        QVERIFY(subscriber.waitForLines(Reports / 10, 60000));
        draining.kill();
        QVERIFY(draining.waitForFinished(10000));
        const int before = subscriber.lines().size();
        QVERIFY2(before < stored.size(), "the drain ended before the kill");

        QProcess restarted;
        startGated(restarted);
        QVERIFY(waitUntil([&] { return m_output.contains("backlog waiting=0 "); }, 60000));
        // The last reports may be acknowledged before the subscriber has printed them.
        QVERIFY(waitUntil(
            [&] {
                return subscriber.lines().size() >= stored.size() &&
                       subscriber.lines().contains(stored.last());
            },
            30000));
        restarted.terminate();
        QVERIFY(restarted.waitForFinished(10000));
        // Once in order up to where the restarted process began, then again in order from an earlier
        // report: what the killed process left unacknowledged or uncommitted.
        const QStringList all = subscriber.lines();
        int restart = 0;
        while (restart < stored.size() && all.value(restart) == stored.at(restart))
            ++restart;
        QVERIFY(restart >= before);
        int resent = restart == stored.size() ? 0 : -1;
        for (int from = restart; from >= 0 && resent < 0; --from) {
            if (all.value(restart) == stored.at(from) &&
                all.mid(restart, stored.size() - from) == stored.mid(from))
                resent = restart - from;
        }
        QVERIFY2(resent >= 0, qPrintable(all.mid(restart, 3).join(QLatin1Char('\n'))));
        qInfo("killed after %d of %d reports had arrived; %d were sent again", restart, int(stored.size()),
              resent);
        QSettings().remove(Key::CloudInFlight);
    }
};

QTEST_GUILESS_MAIN(TestOutboxRestart)
#include "test_outboxrestart.moc"
