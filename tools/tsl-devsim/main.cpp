// tsl-devsim: simulated TSL devices for the gateway and the tools, without hardware.
// See README.md for the options and the line commands.

#include "devicesimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <link.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char PreloadLibrary[] = "libumockdev-preload.so.0";
const char ReexecMarker[] = "TSL_DEVSIM_REEXEC";

int findSanitizerRuntime(dl_phdr_info *info, size_t, void *data)
{
    if (info->dlpi_name && std::strstr(info->dlpi_name, "/libasan.so")) {
        *static_cast<std::string *>(data) = info->dlpi_name;
        return 1;
    }
    return 0;
}

// The testbed is only visible through the umockdev preload, in this process and in the program it
// starts. Without it, start over with it; a sanitizer runtime must stay first in the list.
void ensurePreload(char **argv)
{
    const char *current = std::getenv("LD_PRELOAD");
    if (current && std::strstr(current, "libumockdev-preload"))
        return;
    if (std::getenv(ReexecMarker)) {
        std::fprintf(stderr, "tsl-devsim: %s could not be preloaded (is umockdev installed?)\n",
                     PreloadLibrary);
        std::exit(2);
    }
    std::string preload;
    dl_iterate_phdr(findSanitizerRuntime, &preload);
    if (!preload.empty())
        preload += ':';
    preload += PreloadLibrary;
    if (current && *current)
        preload += std::string(":") + current;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv(ReexecMarker, "1", 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "tsl-devsim: cannot restart under the preload: %s\n", std::strerror(errno));
    std::exit(2);
}

int signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const char byte = char(sig);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP reach the event loop as the signal number on a socket, so that the
// program can be stopped and the testbed removed instead of dying with both left behind.
QSocketNotifier *watchSignals(QObject *parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return nullptr;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    return new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
}

int takeSignal()
{
    char byte = 0;
    return ::read(signalPipe[0], &byte, 1) == 1 ? int(byte) : 0;
}

// Reads command lines from a descriptor and hands them to the simulator.
class LineReader : public QObject
{
public:
    LineReader(int fd, DeviceSimulator *sim, QObject *parent)
        : QObject(parent), m_fd(fd), m_sim(sim),
          m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
    {
        connect(m_notifier, &QSocketNotifier::activated, this, &LineReader::readAvailable);
    }
    std::function<void()> onEnd;

private:
    void readAvailable()
    {
        char buf[4096];
        const ssize_t n = read(m_fd, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            m_notifier->setEnabled(false);
            if (onEnd)
                onEnd();
            return;
        }
        m_pending.append(buf, int(n));
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(end)).trimmed();
            m_pending.remove(0, end + 1);
            run(line);
        }
    }
    void run(const QString &line)
    {
        QStringList out;
        QString error;
        if (!m_sim->execute(line, &out, &error))
            std::fprintf(stderr, "tsl-devsim: %s\n", qPrintable(error));
        for (const QString &text : out)
            std::printf("%s\n", qPrintable(text));
        std::fflush(stdout);
    }

    int m_fd;
    DeviceSimulator *m_sim;
    QSocketNotifier *m_notifier;
    QByteArray m_pending;
};

// "SERIAL[:PRODUCT]"
void splitDevice(const QString &spec, QString *serial, QString *product)
{
    const int colon = spec.indexOf(QLatin1Char(':'));
    *serial = colon < 0 ? spec : spec.left(colon);
    *product = colon < 0 ? QString() : spec.mid(colon + 1);
}

} // namespace

int main(int argc, char **argv)
{
    ensurePreload(argv);
    unsetenv(ReexecMarker);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tsl-devsim"));
    QSocketNotifier *signalNotifier = watchSignals(&app);
    int signalled = 0; // the last signal we were asked to end with
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated USB HID sensors and watchdogs for TSL-Gate."));
    parser.addHelpOption();
    const QCommandLineOption sensorOpt(QStringLiteral("sensor"), QStringLiteral("Plug a sensor at start."),
                                       QStringLiteral("SERIAL[:PRODUCT]"));
    const QCommandLineOption watchdogOpt(QStringLiteral("watchdog"),
                                         QStringLiteral("Plug a watchdog at start."),
                                         QStringLiteral("SERIAL[:PRODUCT]"));
    const QCommandLineOption tempOpt(QStringLiteral("temp"),
                                     QStringLiteral("Temperature of a sensor, in Celsius."),
                                     QStringLiteral("SERIAL=VALUE"));
    const QCommandLineOption ctlOpt(QStringLiteral("ctl"), QStringLiteral("Read commands from this FIFO."),
                                    QStringLiteral("FIFO"));
    const QCommandLineOption noStdinOpt(
        QStringLiteral("no-stdin"), QStringLiteral("Leave standard input to the program instead of reading "
                                                   "commands from it."));
    parser.addOptions({sensorOpt, watchdogOpt, tempOpt, ctlOpt, noStdinOpt});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("Program to run, after --."),
                                 QStringLiteral("[-- command args...]"));
    parser.process(app);

    DeviceSimulator sim;
    if (!sim.isActive()) {
        std::fprintf(stderr, "tsl-devsim: the umockdev preload is not active\n");
        return 2;
    }
    QString error;
    for (const QString &spec : parser.values(sensorOpt) + parser.values(watchdogOpt)) {
        const bool sensor = parser.values(sensorOpt).contains(spec);
        QString serial, product;
        splitDevice(spec, &serial, &product);
        if (!sim.plug(sensor ? QStringLiteral("sensor") : QStringLiteral("watchdog"), serial, product,
                      &error)) {
            std::fprintf(stderr, "tsl-devsim: %s\n", qPrintable(error));
            return 2;
        }
    }
    for (const QString &spec : parser.values(tempOpt)) {
        bool ok = false;
        const double value = spec.section(QLatin1Char('='), 1).toDouble(&ok);
        if (!ok || !sim.setTemperature(spec.section(QLatin1Char('='), 0, 0), value, &error)) {
            std::fprintf(stderr, "tsl-devsim: bad --temp %s %s\n", qPrintable(spec), qPrintable(error));
            return 2;
        }
    }
    std::printf("UMOCKDEV_DIR=%s\n", qPrintable(sim.umockdevDir()));
    std::fflush(stdout);

    const QStringList command = parser.positionalArguments();
    const bool readStdin = !parser.isSet(noStdinOpt);
    int exitCode = 0;
    QObject::connect(&sim, &DeviceSimulator::quitRequested, &app, [&app] { app.exit(0); });

    if (parser.isSet(ctlOpt)) {
        // Read and write, so the channel stays open between writers.
        const int fd =
            open(QFile::encodeName(parser.value(ctlOpt)).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "tsl-devsim: %s: %s\n", qPrintable(parser.value(ctlOpt)),
                         std::strerror(errno));
            return 2;
        }
        new LineReader(fd, &sim, &app);
    }
    if (readStdin) {
        auto *reader = new LineReader(STDIN_FILENO, &sim, &app);
        // Without anything else to wait for, the end of the input ends the simulator.
        if (command.isEmpty() && !parser.isSet(ctlOpt))
            reader->onEnd = [&app] { app.exit(0); };
    }

    QProcess program;
    if (!command.isEmpty()) {
        QProcessEnvironment env =
            QProcessEnvironment::systemEnvironment(); // carries LD_PRELOAD, UMOCKDEV_DIR
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        if (!readStdin)
            program.setInputChannelMode(QProcess::ForwardedInputChannel);
        QObject::connect(&program, &QProcess::errorOccurred, &app, [&](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart) {
                std::fprintf(stderr, "tsl-devsim: cannot start %s\n", qPrintable(command.first()));
                app.exit(127);
            }
        });
        QObject::connect(&program, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &app,
                         [&](int code, QProcess::ExitStatus status) {
                             // Killed by a signal: the one we passed on, if any.
                             exitCode =
                                 status == QProcess::NormalExit ? code : 128 + (signalled ? signalled : 9);
                             app.exit(exitCode);
                         });
        program.start(command.first(), command.mid(1));
    }
    if (signalNotifier) {
        QObject::connect(signalNotifier, &QSocketNotifier::activated, &app, [&] {
            const int sig = takeSignal();
            if (!sig)
                return;
            signalled = sig;
            // The program gets the same signal and decides how to end; we end when it has.
            if (program.state() == QProcess::Running)
                ::kill(pid_t(program.processId()), sig);
            else
                app.exit(128 + sig);
        });
    }
    const int rc = app.exec();
    if (program.state() != QProcess::NotRunning) {
        program.terminate();
        if (!program.waitForFinished(3000))
            program.kill();
        program.waitForFinished(1000);
    }
    return rc;
}
