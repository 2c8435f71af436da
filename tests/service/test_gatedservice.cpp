// tsl-gated started the way its unit starts it: as an unprivileged user (when the test runs as
// root), with a state directory and a read-only configuration directory instead of a home, a
// notification socket and a watchdog. It registers with tsl-devcloud, connects, and keeps every
// file of its own in the state directory.

#include "devcloudprocess.h"
#include "eventwait.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr uint Nobody = 65534;
constexpr int WatchdogMs = 2000;

// The service manager's end of the notify protocol: an abstract datagram socket.
class NotifySocket
{
public:
    explicit NotifySocket(const QByteArray &name) : m_name(name)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr *>(&address),
                         socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()))) == 0;
        m_clock.start();
        // Read as they arrive, so each message has its own time.
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    }
    ~NotifySocket()
    {
        m_notifier.reset();
        ::close(m_fd);
    }

    bool isBound() const { return m_bound; }
    QByteArray address() const { return '@' + m_name; }

    // Reads what has arrived; each message with the time it was read.
    void drain()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0)
            m_messages.append({m_clock.elapsed(), QByteArray(buffer, int(n))});
    }
    bool has(const QByteArray &text)
    {
        drain();
        return std::any_of(m_messages.cbegin(), m_messages.cend(),
                           [&](const auto &m) { return m.second.contains(text); });
    }
    QList<qint64> times(const QByteArray &text) const
    {
        QList<qint64> result;
        for (const auto &m : m_messages) {
            if (m.second == text)
                result.append(m.first);
        }
        return result;
    }
    QString dump() const
    {
        QStringList lines;
        for (const auto &m : m_messages)
            lines.append(QString::number(m.first) + QLatin1Char(' ') + QString::fromUtf8(m.second));
        return lines.join(QLatin1Char('\n'));
    }

private:
    QByteArray m_name;
    int m_fd = -1;
    bool m_bound = false;
    QElapsedTimer m_clock;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<QPair<qint64, QByteArray>> m_messages;
};

bool copyFile(const QString &from, const QString &to)
{
    return QFile::copy(from, to) && QFile::setPermissions(to, QFile::permissions(to) | QFile::ReadOther |
                                                                  QFile::ReadGroup | QFile::ExeOther);
}

// Every entry below dir (and dir itself): owned by the user, and for nobody else to read.
QStringList strangers(const QString &dir, uint uid)
{
    QStringList found;
    QStringList paths{dir};
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(it.next());
    for (const QString &path : paths) {
        struct stat info = {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || info.st_uid != uid ||
            (info.st_mode & 077) != 0)
            found.append(QStringLiteral("%1 (uid %2, mode %3)")
                             .arg(path)
                             .arg(info.st_uid)
                             .arg(info.st_mode & 0777, 0, 8));
    }
    return found;
}

} // namespace

class TestGatedService : public QObject
{
    Q_OBJECT

private slots:
    void registersAndReportsAsTheServiceUser();
};

void TestGatedService::registersAndReportsAsTheServiceUser()
{
    const bool asNobody = ::getuid() == 0;
    const uint uid = asNobody ? Nobody : ::getuid();
    QTemporaryDir base;
    QVERIFY(base.isValid());
    QFile::setPermissions(base.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                           QFile::ExeGroup);
    const QDir root(base.path());

    // The installed layout, readable by the service user: bin/, lib/ and plugins/ side by side.
    const QString build = qEnvironmentVariable("TSL_TEST_BUILD_DIR");
    for (const char *dir : {"bin", "lib", "plugins", "etc/tessel.pro", "state"})
        QVERIFY(root.mkpath(QLatin1String(dir)));
    QVERIFY(
        copyFile(build + QStringLiteral("/bin/tsl-gated"), root.filePath(QStringLiteral("bin/tsl-gated"))));
    const QDir libs(build + QStringLiteral("/lib"));
    for (const QString &lib : libs.entryList({QStringLiteral("*.so*")}, QDir::Files))
        QVERIFY(copyFile(libs.filePath(lib), root.filePath(QStringLiteral("lib/") + lib)));
    QVERIFY(copyFile(QStringLiteral(TSL_TEST_SYNTHETIC_PLUGIN),
                     root.filePath(QStringLiteral("plugins/libthing_synthetic.so"))));
    const QString state = root.filePath(QStringLiteral("state"));
    QVERIFY(::chown(QFile::encodeName(state).constData(), uid, uid) == 0);
    QVERIFY(::chmod(QFile::encodeName(state).constData(), 0700) == 0);

    // The administrator's settings point the gateway at the local cloud; the service may not write them.
    QTemporaryDir cloudData;
    DevCloudProcess cloud;
    QVERIFY2(cloud.start(cloudData.path()), qPrintable(cloud.diagnostics()));
    QVERIFY(copyFile(cloud.caPath(), root.filePath(QStringLiteral("ca.crt"))));
    const QString adminFile = root.filePath(QStringLiteral("etc/tessel.pro/TSL-Gate.conf"));
    {
        QFile conf(adminFile);
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QStringLiteral("[Cloud]\nHost=%1\nPort=%2\n[Web]\nCloud=%3\nRegEndpoint=%4\n"
                                  "[Plugins]\nsynthetic\\period=1000\n")
                       .arg(cloud.value(QStringLiteral("Cloud/Host")))
                       .arg(cloud.mqttPort())
                       .arg(cloud.value(QStringLiteral("Web/Cloud")), cloud.registrar())
                       .toUtf8());
    }
    QFile::setPermissions(adminFile,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup);
    const QByteArray adminSettings = [&] {
        QFile f(adminFile);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    NotifySocket notify("tsl-gated-test-" + QByteArray::number(::getpid()));
    QVERIFY(notify.isBound());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("HOME"), QStringLiteral("/nonexistent"));
    env.insert(QStringLiteral("STATE_DIRECTORY"), state);
    env.insert(QStringLiteral("CONFIGURATION_DIRECTORY"), root.filePath(QStringLiteral("etc")));
    env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromUtf8(notify.address()));
    env.insert(QStringLiteral("WATCHDOG_USEC"), QString::number(WatchdogMs * 1000));
    env.insert(QStringLiteral("TSL_GATE_CA_BUNDLE"), root.filePath(QStringLiteral("ca.crt")));
    env.insert(QStringLiteral("TSL_BENCH_SYNTHETIC_THINGS"), QStringLiteral("2"));
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), root.filePath(QStringLiteral("lib")));
    // The build tree's leak suppressions are out of the service user's reach.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    env.remove(QStringLiteral("LSAN_OPTIONS"));

    QProcess gated;
    QByteArray out;
    gated.setProcessEnvironment(env);
    gated.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&gated, &QProcess::readyReadStandardOutput, this, [&] { out += gated.readAllStandardOutput(); });
    const QStringList args{root.filePath(QStringLiteral("bin/tsl-gated")), QStringLiteral("--register"),
                           QStringLiteral("--rescan"), QStringLiteral("3600")};
    const mode_t mask = ::umask(077); // as UMask= of the unit
    if (asNobody)
        gated.start(QStringLiteral("setpriv"),
                    QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                QStringLiteral("--clear-groups"), QStringLiteral("--no-new-privs"),
                                QStringLiteral("--")} +
                        args);
    else
        gated.start(args.first(), args.mid(1));
    ::umask(mask);
    QVERIFY(gated.waitForStarted());
    auto fail = [&] {
        return QString::fromUtf8(out.right(3000)) + QStringLiteral("\n--- notify:\n") + notify.dump();
    };

    // READY only once the plug-ins are loaded and the first scan is done: those lines came first.
    QVERIFY2(waitUntil([&] { return notify.has("READY=1"); }, 30000), qPrintable(fail()));
    gated.waitForReadyRead(1000);
    out += gated.readAllStandardOutput();
    QVERIFY2(out.contains("finished Load true") && out.contains("finished Rescan true"), qPrintable(fail()));

    // The code for the person at the portal, on standard output and in the status line.
    const QRegularExpression prompt(
        QStringLiteral("registration code (\\d+): enter it at (\\S+) within (\\d+) s"));
    QRegularExpressionMatch m;
    QVERIFY2(waitUntil([&] { return (m = prompt.match(QString::fromUtf8(out))).hasMatch(); }, 30000),
             qPrintable(fail()));
    QCOMPARE(m.captured(2), cloud.portal());
    QCOMPARE(m.captured(3), QStringLiteral("300"));
    QVERIFY2(waitUntil([&] { return notify.has("STATUS=" + m.captured(0).toUtf8()); }, 5000),
             qPrintable(fail()));

    QVERIFY(cloud.confirm(m.captured(1)));
    QVERIFY2(
        waitUntil([&] { return out.contains("cloud connected") && notify.has("STATUS=cloud connected"); },
                  30000),
        qPrintable(fail()));
    QVERIFY2(out.contains("finished ProcReg"), qPrintable(fail()));

    // The watchdog hears from both loops at half its timeout, never missing one.
    QTest::qWait(WatchdogMs * 2);
    notify.drain();
    const QList<qint64> beats = notify.times("WATCHDOG=1");
    QVERIFY2(beats.size() >= 4, qPrintable(fail()));
    for (int i = 1; i < beats.size(); ++i)
        QVERIFY2(beats.at(i) - beats.at(i - 1) < WatchdogMs, qPrintable(fail()));

    gated.terminate();
    QVERIFY(gated.waitForFinished(15000));
    QCOMPARE(gated.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gated.exitCode(), 0);
    QVERIFY2(waitUntil([&] { return notify.has("STOPPING=1"); }, 2000), qPrintable(fail()));

    // Its files, all in the state directory, its own and private; the administrator's file untouched.
    for (const char *file : {"tessel.pro/TSL-Gate.conf", "tessel.pro/TSL-Gate/outbox.db"})
        QVERIFY2(QFileInfo::exists(state + QLatin1Char('/') + QLatin1String(file)), file);
    QFile settings(state + QStringLiteral("/tessel.pro/TSL-Gate.conf"));
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QVERIFY2(settings.readAll().contains("Serial="), "the registration left no gateway serial");
    QVERIFY2(QDir(state + QStringLiteral("/tessel.pro/TSL-Gate")).entryList(QDir::Files).size() > 1,
             "no credentials beside the outbox");
    if (asNobody) {
        const QStringList wrong = strangers(state, uid);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    }
    QFile admin(adminFile);
    QVERIFY(admin.open(QIODevice::ReadOnly));
    QCOMPARE(admin.readAll(), adminSettings);
    QVERIFY(!QFileInfo::exists(QStringLiteral("/nonexistent")));
}

QTEST_GUILESS_MAIN(TestGatedService)
#include "test_gatedservice.moc"
