// tsl-devcloud: the platform's side on this machine (registrar, portal, MQTT broker and CA) for
// running and testing the gateway without the real cloud. See README.md.

#include "commandline.h"
#include "devcloud.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int signo)
{
    const char c = char(signo);
    // Nothing to do about a full pipe: one byte in it is enough to stop.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM, SIGINT and SIGHUP end the event loop, so the broker is stopped on the way out.
bool watchSignals(QCoreApplication *app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
        app->quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    // A gateway that hangs up in the middle of an answer must not take the whole cloud down.
    ::signal(SIGPIPE, SIG_IGN);
    return sigaction(SIGTERM, &sa, nullptr) == 0 && sigaction(SIGINT, &sa, nullptr) == 0 &&
           sigaction(SIGHUP, &sa, nullptr) == 0;
}

bool parsePort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

[[noreturn]] void usageError(const QString &message)
{
    std::fprintf(stderr, "tsl-devcloud: %s\n", qUtf8Printable(message));
    std::exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tsl-devcloud"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The platform's side of TSL-Gate on this machine: registrar, portal, MQTT broker and CA.\n"
        "Prints the settings a gateway needs (Name=value lines), then READY. Stops on SIGTERM/SIGINT."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataOption(
        QStringLiteral("data"),
        QStringLiteral("Directory for the CA, the registry and the broker's files (default "
                       "~/.local/share/tsl-devcloud)."),
        QStringLiteral("dir"),
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/tsl-devcloud"));
    const QCommandLineOption mqttOption(
        QStringLiteral("mqtt-port"),
        QStringLiteral("MQTT/TLS port of the broker on 127.0.0.1 (0: a free port)."), QStringLiteral("port"),
        QStringLiteral("0"));
    const QCommandLineOption httpOption(
        QStringLiteral("http-port"),
        QStringLiteral("HTTP port of the registrar and the portal on 127.0.0.1 (0: a free port)."),
        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("code-timeout"),
        QStringLiteral("Seconds a registration code stays valid (default 300)."), QStringLiteral("seconds"),
        QStringLiteral("300"));
    const QCommandLineOption autoOption(
        QStringLiteral("auto-confirm"),
        QStringLiteral("Confirm every code by itself after this many milliseconds."), QStringLiteral("ms"));
    const QCommandLineOption faultOption(
        QStringLiteral("fault"),
        QStringLiteral("Misbehave for tests: close-after-code (end the stream after \"code\"), error (refuse "
                       "with error 403), bad-cred (send credentials that do not parse), broker-refuses (the "
                       "broker refuses every "
                       "client at its CONNECT)."),
        QStringLiteral("fault"));
    const QCommandLineOption configureOption(
        QStringLiteral("configure-gateway"),
        QStringLiteral("Write Web/RegEndpoint, Web/Cloud, Cloud/Host, Cloud/Port and Web/UpdateURL into this "
                       "user's gateway settings."));
    const QCommandLineOption feedOption(
        QStringLiteral("update-feed"),
        QStringLiteral("Serve this JSON file as the update feed (read again at every request)."),
        QStringLiteral("file"));
    const QCommandLineOption releaseOption(
        QStringLiteral("release"),
        QStringLiteral("Offer this version in the update feed (repeatable; ignored with --update-feed)."),
        QStringLiteral("version"));
    parser.addOptions({dataOption, mqttOption, httpOption, timeoutOption, autoOption, faultOption,
                       configureOption, feedOption, releaseOption});
    if (const int code = CommandLine::check(parser, app.arguments()); code >= 0)
        return code;

    DevCloud::Options options;
    options.dataDir = QDir(parser.value(dataOption)).absolutePath();
    if (!parsePort(parser.value(mqttOption), &options.mqttPort))
        usageError(QStringLiteral("--mqtt-port wants a port number"));
    if (!parsePort(parser.value(httpOption), &options.httpPort))
        usageError(QStringLiteral("--http-port wants a port number"));
    bool ok = false;
    options.registrar.codeTimeout = parser.value(timeoutOption).toInt(&ok);
    if (!ok || options.registrar.codeTimeout < 1 || options.registrar.codeTimeout > 86400)
        usageError(QStringLiteral("--code-timeout wants 1 to 86400 seconds"));
    if (parser.isSet(autoOption)) {
        options.registrar.autoConfirmMs = parser.value(autoOption).toInt(&ok);
        if (!ok || options.registrar.autoConfirmMs < 0)
            usageError(QStringLiteral("--auto-confirm wants milliseconds (0 or more)"));
    }
    if (parser.isSet(faultOption)) {
        const QString fault = parser.value(faultOption);
        if (fault == QLatin1String("close-after-code"))
            options.registrar.fault = Registrar::Fault::CloseAfterCode;
        else if (fault == QLatin1String("error"))
            options.registrar.fault = Registrar::Fault::Error;
        else if (fault == QLatin1String("bad-cred"))
            options.registrar.fault = Registrar::Fault::BadCred;
        else if (fault == QLatin1String("broker-refuses"))
            options.brokerRefuses = true;
        else
            usageError(QStringLiteral("unknown fault %1 (close-after-code, error, bad-cred, broker-refuses)")
                           .arg(fault));
    }

    if (parser.isSet(feedOption))
        options.feedFile = QFileInfo(parser.value(feedOption)).absoluteFilePath();
    options.feedVersions = parser.values(releaseOption);

    if (!watchSignals(&app))
        usageError(QStringLiteral("cannot install the signal handlers"));

    DevCloud cloud(options);
    QObject::connect(&cloud, &DevCloud::fatalError, &app, [&app](const QString &message) {
        std::fprintf(stderr, "tsl-devcloud: %s\n", qUtf8Printable(message));
        app.exit(1);
    });
    if (!cloud.start()) {
        std::fprintf(stderr, "tsl-devcloud: %s\n", qUtf8Printable(cloud.errorString()));
        return 1;
    }
    if (parser.isSet(configureOption)) {
        QString file;
        if (!cloud.configureGateway(&file)) {
            std::fprintf(stderr, "tsl-devcloud: cannot write the gateway's settings %s\n",
                         qUtf8Printable(file));
            return 1;
        }
        std::fprintf(stderr, "tsl-devcloud: gateway settings written to %s\n", qUtf8Printable(file));
    }
    for (const auto &setting : cloud.settings())
        std::printf("%s=%s\n", qUtf8Printable(setting.first), qUtf8Printable(setting.second));
    std::printf("READY\n");
    std::fflush(stdout);

    const int rc = app.exec();
    cloud.stop();
    return rc;
}
