#include "singleapphandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {

QString uniqueName(const QString &what)
{
    return QStringLiteral("tsl-guard-%1-%2-%3")
        .arg(what)
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// One probe process; its output is read line by line.
class Probe
{
public:
    Probe(const QString &program, const QStringList &args, const QStringList &wrapper = {})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (wrapper.isEmpty())
            m_process.start(program, args);
        else
            m_process.start(wrapper.first(), wrapper.mid(1) + QStringList{program} + args);
    }
    ~Probe()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QString line(int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_process.canReadLine() && timer.elapsed() < timeoutMs) {
            if (!m_process.waitForReadyRead(100) && m_process.state() == QProcess::NotRunning)
                break;
        }
        return m_process.canReadLine() ? QString::fromUtf8(m_process.readLine()).trimmed() : QString();
    }
    // Exit code of a normal end, -1 otherwise.
    int finish(int timeoutMs = 10000)
    {
        if (!m_process.waitForFinished(timeoutMs) && m_process.state() != QProcess::NotRunning)
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
};

} // namespace

class TestSingleAppHandler : public QObject
{
    Q_OBJECT

    QString m_probe;

    std::unique_ptr<Probe> probe(const QString &name, const QStringList &extra = {},
                                 const QStringList &wrapper = {}, const QString &program = {})
    {
        return std::make_unique<Probe>(program.isEmpty() ? m_probe : program, QStringList{name} + extra,
                                       wrapper);
    }

    // Ends a primary probe through the guard's own channel, as a clean shutdown.
    void quitPrimary(Probe &primary, const QString &name, const QStringList &wrapper = {},
                     const QString &program = {})
    {
        auto quitter = probe(name, {QStringLiteral("quit")}, wrapper, program);
        QCOMPARE(quitter->line(), QStringLiteral("secondary"));
        QCOMPARE(primary.line(), QStringLiteral("message:quit"));
        QCOMPARE(primary.finish(), 0);
    }

private slots:
    void initTestCase()
    {
        m_probe = QString::fromLocal8Bit(qgetenv("TSL_TEST_BUILD_DIR")) +
                  QStringLiteral("/tests/singleinstanceprobe");
        QVERIFY2(QFileInfo(m_probe).isExecutable(), qPrintable(m_probe));
    }

    void secondStartHandsOverAndKilledPrimaryIsReplaced()
    {
        const QString name = uniqueName(QStringLiteral("handover"));
        auto primary = probe(name);
        const QString first = primary->line();
        QVERIFY2(first.startsWith(QLatin1String("primary /tmp/")), qPrintable(first));
        const QString socketPath = first.section(QLatin1Char(' '), 1);
        // Only the owner may reach the server.
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QVERIFY(QFileInfo::exists(socketPath));
        QCOMPARE(QFileInfo(socketPath).permissions() & others, QFile::Permissions());

        auto second = probe(name);
        QCOMPARE(second->line(), QStringLiteral("secondary"));
        QCOMPARE(second->finish(), 0);
        QCOMPARE(primary->line(), QStringLiteral("message:show"));

        // A crash leaves the segment and the socket file behind; the next start clears both.
        primary->kill();
        QVERIFY(QFileInfo::exists(socketPath));
        auto successor = probe(name);
        QCOMPARE(successor->line(), first);
        auto third = probe(name, {QStringLiteral("again")});
        QCOMPARE(third->line(), QStringLiteral("secondary"));
        QCOMPARE(successor->line(), QStringLiteral("message:again"));

        quitPrimary(*successor, name);
        QVERIFY(!QFileInfo::exists(socketPath));
    }

    void simultaneousStartsMakeOnePrimary()
    {
        for (int round = 0; round < 50; ++round) {
            const QString name = uniqueName(QStringLiteral("race%1").arg(round));
            auto a = probe(name, {QStringLiteral("race")});
            auto b = probe(name, {QStringLiteral("race")});
            const QString lineA = a->line();
            const QString lineB = b->line();
            const bool aPrimary = lineA.startsWith(QLatin1String("primary"));
            const bool bPrimary = lineB.startsWith(QLatin1String("primary"));
            QVERIFY2(aPrimary != bPrimary,
                     qPrintable(QStringLiteral("round %1: %2 / %3").arg(round).arg(lineA, lineB)));
            Probe &primary = aPrimary ? *a : *b;
            Probe &secondary = aPrimary ? *b : *a;
            QCOMPARE(aPrimary ? lineB : lineA, QStringLiteral("secondary"));
            QCOMPARE(secondary.finish(), 0);
            QCOMPARE(primary.line(), QStringLiteral("message:race"));
            quitPrimary(primary, name);
        }
    }

    void anotherUserRunsAnInstanceOfTheirOwn()
    {
        if (::getuid() != 0)
            QSKIP("needs root to start a process as another user");
        // The other user must be able to run the probe: a copy in a directory anyone may enter.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                              QFile::ExeOther);
        const QString copy = dir.filePath(QStringLiteral("singleinstanceprobe"));
        QVERIFY(QFile::copy(m_probe, copy));
        // ...with the build tree's shared libraries, found through the library path.
        const QDir libs(QFileInfo(m_probe).absolutePath() + QStringLiteral("/../lib"));
        for (const QString &lib : libs.entryList({QStringLiteral("*.so.*")}, QDir::Files))
            QVERIFY(QFile::copy(libs.filePath(lib), dir.filePath(lib)));
        // The sanitizer's suppression list lies in the build tree, which the other user may not
        // enter; that user's probe runs without the leak checker (the owner's probes have it).
        const QStringList nobody{
            QStringLiteral("setpriv"),       QStringLiteral("--reuid=65534"),
            QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
            QStringLiteral("env"),           QStringLiteral("ASAN_OPTIONS=detect_leaks=0"),
            QStringLiteral("LSAN_OPTIONS="), QStringLiteral("LD_LIBRARY_PATH=") + dir.path()};

        const QString name = uniqueName(QStringLiteral("users"));
        auto mine = probe(name);
        const QString myServer = mine->line();
        QVERIFY2(myServer.startsWith(QLatin1String("primary")), qPrintable(myServer));
        auto theirs = probe(name, {}, nobody, copy);
        const QString theirServer = theirs->line();
        QVERIFY2(theirServer.startsWith(QLatin1String("primary")), qPrintable(theirServer));
        QVERIFY(theirServer != myServer);

        quitPrimary(*theirs, name, nobody, copy);
        quitPrimary(*mine, name);
    }

    // In this process: the framing of messages on one connection.
    void messagesOnOneConnection_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("empty line between") << QList<QByteArray>{"a\n\nb\n"} << QStringList{"a", "b"};
        QTest::newRow("split over chunks")
            << QList<QByteArray>{"he", "llo\nwor", "ld\n"} << QStringList{"hello", "world"};
        QTest::newRow("unterminated at disconnect") << QList<QByteArray>{"ok\ndangling"} << QStringList{"ok"};
        QTest::newRow("leading newline") << QList<QByteArray>{"\n", "c\n"} << QStringList{"c"};
        QTest::newRow("NUL ends the chunk")
            << QList<QByteArray>{QByteArray("p\n\0q\n", 5), "r\n"} << QStringList{"p", "r"};
        QTest::newRow("UTF-8") << QList<QByteArray>{"gr\xc3\xb6\xc3\x9f"
                                                    "e\n"}
                               << QStringList{"gr\u00f6\u00dfe"};
    }

    void messagesOnOneConnection()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, messages);
        QCoreApplication::setApplicationName(uniqueName(QStringLiteral("framing")));
        SingleAppHandler guard;
        QVERIFY(guard.isPrimary());
        QSignalSpy received(&guard, &SingleAppHandler::incomingMessage);

        QLocalSocket client;
        client.connectToServer(SingleAppHandler::serverName());
        QVERIFY(client.waitForConnected(2000));
        for (const QByteArray &chunk : chunks) {
            client.write(chunk);
            QVERIFY(client.waitForBytesWritten(2000));
            QTest::qWait(50); // let the guard read it as a chunk of its own
        }
        client.disconnectFromServer();
        QTRY_COMPARE(received.size(), messages.size());
        QTest::qWait(100);
        QStringList got;
        for (const QList<QVariant> &args : qAsConst(received))
            got << args.first().toString();
        QCOMPARE(got, messages);
    }

    // A guard that goes away with a client still connected releases everything for the next one.
    void destroyedWithOpenConnection()
    {
        QCoreApplication::setApplicationName(uniqueName(QStringLiteral("teardown")));
        auto guard = std::make_unique<SingleAppHandler>();
        QVERIFY(guard->isPrimary());
        QLocalSocket client;
        client.connectToServer(SingleAppHandler::serverName());
        QVERIFY(client.waitForConnected(2000));
        client.write("half");
        QVERIFY(client.waitForBytesWritten(2000));
        QTest::qWait(50);

        {
            SingleAppHandler second;
            QVERIFY(!second.isPrimary());
        }
        guard.reset();
        QTest::qWait(50);
        QVERIFY(!QFileInfo::exists(SingleAppHandler::serverName()));
        SingleAppHandler next;
        QVERIFY(next.isPrimary());
    }
};

QTEST_GUILESS_MAIN(TestSingleAppHandler)
#include "test_singleapphandler.moc"
