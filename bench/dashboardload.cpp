// tsl-bench-dashboard: the dashboard of the main window (its model, and a table set up as the window
// sets up its own) fed with thing changes from a worker thread at a steady rate, handed over in
// batches (what came in each millisecond) as the runner's changes reach the window. Measures the lateness of
// a 10 ms timer on the GUI thread, first without changes and then under them, and this process's CPU under
// them; prints the figures as one line of JSON.
//
//   tsl-bench-dashboard [--rows N] [--rate changes/s] [--seconds N] [--quiet-seconds N] [--title T]

#include "benchstats.h"
#include "procstat.h"
#include "qcolumnfitter.h"
#include "thingsstatetablemodel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTableView>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

constexpr int ProbeMs = 10;

ThingState row(int index, double celsius)
{
    ThingState s;
    s.shortid = QStringLiteral("thx9_100_D%1").arg(index, 4, 10, QLatin1Char('0'));
    s.name = QStringLiteral("Sensor %1").arg(index);
    s.regid = QString::number(1000 + index);
    s.state = QJsonObject{{QStringLiteral("temperature"), celsius}};
    return s;
}

QJsonArray toJson(const QVector<double> &values)
{
    QJsonArray a;
    for (double v : values)
        a.append(v);
    return a;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption rowsOption(QStringLiteral("rows"), QStringLiteral("Dashboard rows."),
                                        QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption rateOption(QStringLiteral("rate"), QStringLiteral("Changes per second."),
                                        QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Time under changes."),
                                           QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption quietOption(QStringLiteral("quiet-seconds"),
                                         QStringLiteral("Time without changes, first."), QStringLiteral("s"),
                                         QStringLiteral("3"));
    const QCommandLineOption titleOption(QStringLiteral("title"), QStringLiteral("Window title."),
                                         QStringLiteral("text"), QStringLiteral("Dashboard load"));
    parser.addOptions({rowsOption, rateOption, secondsOption, quietOption, titleOption});
    parser.process(app);
    const int rows = qMax(1, parser.value(rowsOption).toInt());
    const int rate = qMax(1, parser.value(rateOption).toInt());
    const int seconds = qMax(1, parser.value(secondsOption).toInt());
    const int quietSeconds = qMax(0, parser.value(quietOption).toInt());

    ThingStateList initial;
    for (int i = 0; i < rows; ++i)
        initial.append(row(i, 20.0));
    ThingsStateTableModel model;
    model.reset(initial);
    QTableView view;
    view.setWindowTitle(parser.value(titleOption));
    view.setAlternatingRowColors(true);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.verticalHeader()->setVisible(false);
    view.setModel(&model);
    view.horizontalHeader()->setSectionResizeMode(ThingsStateTableModel::ColState, QHeaderView::Stretch);
    new QColumnFitter(&view, {ThingsStateTableModel::ColType, ThingsStateTableModel::ColSerial,
                              ThingsStateTableModel::ColAlias, ThingsStateTableModel::ColCloud});
    view.resize(900, 600);
    view.show();

    // The probe: a single-shot timer armed again each time it fires; its lateness is how long the
    // event loop kept a due timer waiting.
    QVector<double> quietLateness, loadLateness;
    QVector<double> *lateness = &quietLateness;
    qint64 armedNs = 0;
    QTimer probe;
    probe.setSingleShot(true);
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = monotonicNs();
        lateness->append(qMax(0.0, double(now - armedNs) / 1e6 - ProbeMs));
        armedNs = monotonicNs();
        probe.start(ProbeMs);
    });

    std::atomic<bool> feeding{false};
    std::atomic<bool> stopFeeding{false};
    int applied = 0;
    std::thread feeder([&] {
        while (!feeding && !stopFeeding)
            ::usleep(1000);
        const qint64 start = monotonicNs();
        qint64 sent = 0;
        while (!stopFeeding) {
            const qint64 due = (monotonicNs() - start) * rate / 1000000000;
            ThingStateList batch;
            // Every change moves one row's reading, round and round the rows.
            for (; sent < due; ++sent)
                batch.append(row(int(sent % rows), 20.0 + double(sent % 997) / 10));
            if (!batch.isEmpty()) {
                QMetaObject::invokeMethod(
                    &model,
                    [&model, &applied, batch] {
                        model.apply(batch);
                        applied += batch.size();
                    },
                    Qt::QueuedConnection);
            }
            ::usleep(1000);
        }
    });

    ProcSample loadStart;
    qint64 loadStartNs = 0;
    QJsonObject result;
    QTimer::singleShot(0, [&] {
        armedNs = monotonicNs();
        probe.start(ProbeMs);
    });
    QTimer::singleShot(quietSeconds * 1000, Qt::PreciseTimer, [&] {
        lateness = &loadLateness;
        loadStart = sampleProcess(getpid());
        loadStartNs = monotonicNs();
        feeding = true;
    });
    QTimer::singleShot((quietSeconds + seconds) * 1000, Qt::PreciseTimer, [&] {
        stopFeeding = true;
        const ProcSample end = sampleProcess(getpid());
        const double elapsed = double(monotonicNs() - loadStartNs) / 1e9;
        result.insert(QStringLiteral("seconds"), elapsed);
        result.insert(QStringLiteral("cpuPercent"),
                      100.0 * (end.cpuSeconds - loadStart.cpuSeconds) / elapsed);
        result.insert(QStringLiteral("applied"), applied);
        result.insert(QStringLiteral("rows"), model.rowCount());
        result.insert(QStringLiteral("quietLatenessMs"), toJson(quietLateness));
        result.insert(QStringLiteral("latenessMs"), toJson(loadLateness));
        QCoreApplication::quit();
    });
    const int rc = app.exec();
    stopFeeding = true;
    feeder.join();
    const QByteArray line = QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    return rc;
}
