// tsl-bench: latency, footprint and scale of the gateway core on simulated devices and a local TLS
// broker, side by side with a do-it-yourself script. Prints one Markdown table and writes the
// figures as JSON.

#include "appidentity.h"
#include "benchrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

#include <mosquitto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr char Preload[] = "libumockdev-preload.so.0";

bool hasArgument(int argc, char *argv[], const char *name)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return true;
    }
    return false;
}

// The simulated devices need the umockdev preload in this process: start again under it.
void ensurePreload(char *argv[])
{
    const char *current = std::getenv("LD_PRELOAD");
    if (current && std::strstr(current, "umockdev-preload"))
        return;
    QByteArray preload = current && *current ? QByteArray(current) + ':' + Preload : QByteArray(Preload);
    setenv("LD_PRELOAD", preload.constData(), 1);
    execv("/proc/self/exe", argv);
    std::perror("tsl-bench: cannot restart under the umockdev preload");
    std::exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    const bool child = hasArgument(argc, argv, "--core-synthetic");
    if (!child) {
        ensurePreload(argv);
        BenchRun::prepareHome();
    }
    QCoreApplication app(argc, argv);
    setApplicationIdentity();
    mosquitto_lib_init();

    if (child) {
        const QStringList args = app.arguments();
        const int at = args.indexOf(QStringLiteral("--core-synthetic"));
        const int rc = BenchRun::syntheticChildMain(args.value(at + 1),
                                                    !args.contains(QStringLiteral("--no-report-changes")),
                                                    !args.contains(QStringLiteral("--no-history")));
        mosquitto_lib_cleanup();
        return rc;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Benchmarks of the gateway core."));
    parser.addHelpOption();
    const QCommandLineOption quick(QStringLiteral("quick"),
                                   QStringLiteral("Short runs of everything (smoke test)."));
    const QCommandLineOption soak(QStringLiteral("soak-seconds"), QStringLiteral("Soak duration."),
                                  QStringLiteral("s"));
    const QCommandLineOption idle(QStringLiteral("idle-seconds"), QStringLiteral("Idle measurement."),
                                  QStringLiteral("s"));
    const QCommandLineOption samples(QStringLiteral("latency-samples"),
                                     QStringLiteral("Readings per latency run."), QStringLiteral("n"));
    const QCommandLineOption outboxSamples(QStringLiteral("outbox-samples"),
                                           QStringLiteral("Readings of the outbox's latency rounds."),
                                           QStringLiteral("n"));
    const QCommandLineOption sensors(QStringLiteral("hid-sensors"),
                                     QStringLiteral("Sensors of the HID scale run."), QStringLiteral("n"));
    const QCommandLineOption things(QStringLiteral("synthetic-things"),
                                    QStringLiteral("Things of the synthetic run."), QStringLiteral("n"));
    const QCommandLineOption rounds(QStringLiteral("rounds"),
                                    QStringLiteral("Rounds of each pairing with the Python poller."),
                                    QStringLiteral("n"));
    const QCommandLineOption pairSeconds(QStringLiteral("pair-seconds"),
                                         QStringLiteral("Measured time of each side in a round."),
                                         QStringLiteral("s"));
    const QCommandLineOption windowSoak(
        QStringLiteral("window-soak-seconds"),
        QStringLiteral("Soak of the desktop program (phase window; 0: none)."), QStringLiteral("s"));
    const QCommandLineOption only(
        QStringLiteral("only"),
        QStringLiteral("Run only these phases (comma-separated): latency, pairs (also: baseline), idle, "
                       "hid, synthetic, soak, outbox, window."),
        QStringLiteral("phases"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Where to write the figures as JSON."),
                                  QStringLiteral("file"), QStringLiteral("bench-results.json"));
    parser.addOptions({quick, soak, idle, samples, outboxSamples, sensors, things, rounds, pairSeconds,
                       windowSoak, only, json});
    parser.process(app);

    BenchOptions options;
    if (parser.isSet(quick))
        options.makeQuick();
    auto number = [&parser](const QCommandLineOption &o, int &target) {
        if (parser.isSet(o))
            target = qMax(1, parser.value(o).toInt());
    };
    number(soak, options.soakSeconds);
    number(idle, options.idleSeconds);
    number(samples, options.latencySamples);
    number(outboxSamples, options.outboxSamples);
    number(sensors, options.hidSensors);
    number(things, options.syntheticThings);
    number(rounds, options.pairRounds);
    number(pairSeconds, options.pairSeconds);
    if (parser.isSet(windowSoak))
        options.windowSoakSeconds = qMax(0, parser.value(windowSoak).toInt());
    if (parser.isSet(only)) {
        options.phases = parser.value(only).split(QLatin1Char(','), Qt::SkipEmptyParts);
        // The pairings took the place of the phase that measured the Python poller alone.
        options.phases.replaceInStrings(QRegularExpression(QStringLiteral("^baseline$")),
                                        QStringLiteral("pairs"));
    }
    options.jsonPath = parser.value(json);

    int rc = 0;
    {
        BenchRun run(options);
        if (!run.setUp()) {
            std::fprintf(stderr, "tsl-bench: %s\n", qPrintable(run.errorString()));
            rc = 1;
        } else {
            run.run();
            const QByteArray table = run.report().markdown().toUtf8();
            std::fwrite(table.constData(), 1, size_t(table.size()), stdout);
            QFile out(options.jsonPath);
            if (!out.open(QIODevice::WriteOnly) ||
                out.write(QJsonDocument(run.report().json()).toJson()) < 0) {
                std::fprintf(stderr, "tsl-bench: cannot write %s\n", qPrintable(options.jsonPath));
                rc = 1;
            }
        }
    }
    mosquitto_lib_cleanup();
    return rc;
}
