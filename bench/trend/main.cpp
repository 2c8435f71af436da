// tsl-bench-trend: the window's trend pane on a real history file. Two sensors recorded once a
// second for a week (604 800 states each); the pane on the 7-day range switches between them: time
// from the question to the chart drawn and painted. Then live states at 1/s to the shown thing, with
// the pane painted after each: the process's CPU time over wall time.

#include "appidentity.h"
#include "benchreport.h"
#include "benchstats.h"
#include "historystore.h"
#include "trendchart.h"
#include "trendpane.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtCharts/QChartView>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

const QString Things[] = {QStringLiteral("thx9_100_BENCH1"), QStringLiteral("thx9_100_BENCH2")};
constexpr qint64 Second = 1000;
constexpr qint64 Week = 7 * 86400 * Second;
constexpr int PerBatch = 1000;

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Counts the paints of a widget.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    setApplicationIdentity();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Benchmarks of the trend pane."));
    parser.addHelpOption();
    const QCommandLineOption quick(QStringLiteral("quick"), QStringLiteral("Fewer repetitions."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Where to write the figures."),
                                  QStringLiteral("file"), QStringLiteral("bench-trend.json"));
    parser.addOptions({quick, json});
    parser.process(app);
    const int switches = parser.isSet(quick) ? 6 : 30;
    const int liveSeconds = parser.isSet(quick) ? 10 : 60;

    QTemporaryDir dir;
    const qint64 end = QDateTime::currentMSecsSinceEpoch() / Second * Second;
    const qint64 start = end - Week;
    std::fprintf(stderr, "bench: trend (two sensors a week once a second, %d switches, %d s live)\n",
                 switches, liveSeconds);
    {
        HistoryStore store(dir.path());
        store.open();
        for (qint64 first = start; first < end; first += PerBatch * Second) {
            HistoryBatch batch;
            batch.reserve(2 * PerBatch);
            for (int i = 0; i < PerBatch; ++i) {
                const qint64 time = first + i * Second;
                for (int n = 0; n < 2; ++n)
                    batch.append({time,
                                  Things[n],
                                  {{QStringLiteral("t"), 21 + (n + 3) * std::sin(double(time) / 4e6)}}});
            }
            if (!store.write(batch)) {
                std::fprintf(stderr, "tsl-bench-trend: cannot write %s\n", qPrintable(store.path()));
                return 1;
            }
        }
        store.close();
    }

    TrendPane pane;
    pane.resize(1000, 400);
    pane.setHistoryDirectory(dir.path());
    pane.setRange(TrendPane::LastWeek);
    pane.show();
    auto *view = pane.findChild<QtCharts::QChartView *>();
    QSignalSpy drawn(&pane, &TrendPane::drawn);
    BenchReport report;

    // Switching: the other sensor's week, drawn and painted.
    QVector<double> switchMs;
    QVector<double> queryMs;
    for (int i = 0; i < switches + 1; ++i) {
        const qint64 began = monotonicNs();
        pane.showThing(Things[i % 2], Things[i % 2]);
        if (!drawn.wait(10000)) {
            std::fprintf(stderr, "tsl-bench-trend: no chart within 10 s\n");
            return 1;
        }
        view->viewport()->repaint();
        if (i > 0) { // the first one warms the file's cache
            switchMs.append(double(monotonicNs() - began) / 1e6);
            queryMs.append(double(pane.lastQueryMs()));
        }
    }
    report.addSummary(
        QStringLiteral("trend.switch"),
        QStringLiteral("Trend pane: another thing on the 7-day range (604 800 rows), drawn and painted"),
        summarize(switchMs), QStringLiteral("ms"),
        QStringLiteral("%1 points").arg(pane.chart()->stretches(QStringLiteral("t")).value(0).size()));
    report.setTarget(QStringLiteral("trend.switch"), QStringLiteral("<= 100 ms median"), BenchReport::Median,
                     100);
    report.addSummary(QStringLiteral("trend.query"),
                      QStringLiteral("Trend pane: of which the query, on the thread pool"),
                      summarize(queryMs), QStringLiteral("ms"), QString());

    // Live: one state a second to the shown thing, painted by the event loop as the window would be.
    const QString shown = pane.thing();
    PaintCounter counter;
    view->viewport()->installEventFilter(&counter);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < liveSeconds; ++i) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        pane.append(now, shown,
                    {{QStringLiteral("t"), 21 + 3 * std::sin(double(now) / 4e6) + (i % 7) * 0.5}});
        QEventLoop second;
        QTimer::singleShot(1000, &second, &QEventLoop::quit);
        second.exec();
    }
    const double share = 100 * (cpuSeconds() - cpuBefore) / (double(wall.elapsed()) / 1000);
    report.addValue(QStringLiteral("trend.liveCpu"),
                    QStringLiteral("Trend pane: live updates at 1/s on the 7-day chart, CPU of the process"),
                    share, QStringLiteral("% of a core"), QStringLiteral("%1 paints").arg(counter.paints));
    report.setTarget(QStringLiteral("trend.liveCpu"), QStringLiteral("<= 1 %"), BenchReport::Median, 1);

    const QByteArray table = report.markdown().toUtf8();
    std::fwrite(table.constData(), 1, size_t(table.size()), stdout);
    QFile out(parser.value(json));
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(report.json()).toJson()) < 0) {
        std::fprintf(stderr, "tsl-bench-trend: cannot write %s\n", qPrintable(parser.value(json)));
        return 1;
    }
    return 0;
}
