// tsl-gated: the gateway core without its window, for servers, demos and benchmarks.

#include "appidentity.h"
#include "cxsettings.h"
#include "gatewayconsole.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so the pool is saved and the devices are released.
void quitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setApplicationIdentity();
    CXSettings stamp; // stamps the settings version, as every start of the gateway does
    Q_UNUSED(stamp)

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("TSL-Gate core without a window: finds devices, keeps the "
                       "device pool and reports to the cloud."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption rescan(QStringLiteral("rescan"),
                                    QStringLiteral("Rescan for devices every <seconds>."),
                                    QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption registration(
        QStringLiteral("register"), QStringLiteral("Register the gateway and its new devices with the "
                                                   "registrar, naming unnamed things by their short id."));
    const QCommandLineOption reportChanges(QStringLiteral("report-changes"),
                                           QStringLiteral("Report every state change of a device at once."));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Stop after <n> seconds."),
                                     QStringLiteral("n"));
    parser.addOptions({rescan, registration, reportChanges, seconds});
    parser.process(app);

    GatewayConsole::Options options;
    options.rescanSeconds = parser.value(rescan).toInt();
    options.registerGateway = parser.isSet(registration);
    options.reportChanges = parser.isSet(reportChanges);

    quitOnSignals(app);
    if (parser.isSet(seconds))
        QTimer::singleShot(parser.value(seconds).toInt() * 1000, &app, &QCoreApplication::quit);

    GatewayConsole console(options);
    console.start();
    return app.exec();
}
