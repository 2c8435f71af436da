// tsl-gated: the gateway core without its window, for servers, demos and benchmarks.

#include "appidentity.h"
#include "commandline.h"
#include "cxsettings.h"
#include "gatewayconsole.h"
#include "historyexportcommand.h"
#include "journallog.h"
#include "logcategories.h"
#include "servicedirectories.h"
#include "servicenotifier.h"
#include "servicestatus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStandardPaths>
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

// A positive whole number of the option, or 0 when it is something else.
int positive(const QCommandLineParser &parser, const QCommandLineOption &option)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    return ok && value > 0 ? value : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setApplicationIdentity();
    JournalLog::install();

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
    const QCommandLineOption exportHistory(
        QStringLiteral("export-history"),
        QStringLiteral("Write the recorded history of the thing <id> (its short id) as CSV and exit."),
        QStringLiteral("id"));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("With --export-history: from <time> (ISO 8601)."),
                                   QStringLiteral("time"));
    const QCommandLineOption until(QStringLiteral("until"),
                                   QStringLiteral("With --export-history: until <time> (ISO 8601)."),
                                   QStringLiteral("time"));
    const QCommandLineOption out(
        QStringLiteral("out"),
        QStringLiteral("With --export-history: into <file> instead of standard output."),
        QStringLiteral("file"));
    parser.addOptions({rescan, registration, reportChanges, seconds, exportHistory, since, until, out});
    if (const int code = CommandLine::check(parser, app.arguments()); code >= 0)
        return code;
    for (const QCommandLineOption *option : {&rescan, &seconds}) {
        if (parser.isSet(*option) && positive(parser, *option) == 0)
            return CommandLine::usageError(
                parser,
                QStringLiteral("--%1 needs a whole number above 0.").arg(option->names().constFirst()));
    }

    // Under the service manager the files go to the directories it prepared for the service.
    ServiceDirectories directories;
    if (!directories.apply()) {
        qCCritical(lcService, "cannot start: %s", qUtf8Printable(directories.errorString()));
        return CommandLine::Failure;
    }
    if (parser.isSet(exportHistory)) {
        return HistoryExportCommand::run({parser.value(exportHistory), parser.value(since),
                                          parser.value(until), parser.value(out),
                                          QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)});
    }
    for (const QCommandLineOption *option : {&since, &until, &out}) {
        if (parser.isSet(*option))
            return CommandLine::usageError(
                parser, QStringLiteral("--%1 needs --export-history.").arg(option->names().constFirst()));
    }
    CXSettings stamp; // stamps the settings version, as every start of the gateway does
    Q_UNUSED(stamp)

    GatewayConsole::Options options;
    options.rescanSeconds = positive(parser, rescan);
    options.registerGateway = parser.isSet(registration);
    options.reportChanges = parser.isSet(reportChanges);

    quitOnSignals(app);
    if (parser.isSet(seconds))
        QTimer::singleShot(positive(parser, seconds) * 1000, &app, &QCoreApplication::quit);

    // The notifier outlives the console: the worker may still hand it a beat until the console ends.
    ServiceNotifier notifier;
    ServiceStatus status(&notifier);
    GatewayConsole console(options);
    QObject::connect(&console, &GatewayConsole::started, &status, &ServiceStatus::setStarted);
    QObject::connect(&console, &GatewayConsole::connectivityChanged, &status, &ServiceStatus::setConnected);
    QObject::connect(&console, &GatewayConsole::backlogChanged, &status, &ServiceStatus::setBacklog);
    QObject::connect(&console, &GatewayConsole::registrationCode, &status,
                     &ServiceStatus::showRegistrationCode);
    QObject::connect(&console, &GatewayConsole::registrationEnded, &status,
                     &ServiceStatus::setRegistrationEnded);
    console.start();
    // A beat goes from the main loop through the worker's queue and back, so the watchdog notices
    // either of them stuck; the worker's queue is in order, behind whatever operation runs.
    notifier.startWatchdog([&console, &notifier](std::function<void()> alive) {
        console.host().post([&notifier, alive](CxgatewRunner *) {
            QMetaObject::invokeMethod(&notifier, alive, Qt::QueuedConnection);
        });
    });

    const int code = app.exec();
    notifier.stopping();
    return code;
}
