// tsl-bench-history: the local history on a real file. A thing recorded once a second for a week
// (604 800 states of two fields), then the week's chart of one field in 1000 buckets, a range short
// enough to be read value by value, and the CSV export; what record() costs the caller and what
// writing costs the store, per 1000 records.

#include "appidentity.h"
#include "benchreport.h"
#include "benchstats.h"
#include "historycsvwriter.h"
#include "historyreader.h"
#include "historystore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace {

const QString Thing = QStringLiteral("thx9_1_A1B2");
constexpr qint64 Second = 1000;
constexpr qint64 Week = 7 * 86400 * Second;
constexpr int PerBatch = 1000;

HistoryBatch batchAt(qint64 first)
{
    HistoryBatch batch;
    batch.reserve(PerBatch);
    for (int i = 0; i < PerBatch; ++i) {
        const qint64 time = first + i * Second;
        const double t = 21 + 4 * std::sin(double(time) / 4e6);
        batch.append({time, Thing, {{QStringLiteral("t"), t}, {QStringLiteral("h"), int(time / 7000 % 60)}}});
    }
    return batch;
}

double msSince(qint64 startNs)
{
    return double(monotonicNs() - startNs) / 1e6;
}

class NullDevice : public QIODevice
{
protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override { return size; }
};

} // namespace

int main(int argc, char *argv[])
{
    // Settings of the run's own, so History/Days and History/MB are the defaults.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    setApplicationIdentity();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Benchmarks of the local history."));
    parser.addHelpOption();
    const QCommandLineOption quick(QStringLiteral("quick"), QStringLiteral("Fewer repetitions."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Where to write the figures."),
                                  QStringLiteral("file"), QStringLiteral("bench-history.json"));
    parser.addOptions({quick, json});
    parser.process(app);
    const int repeats = parser.isSet(quick) ? 5 : 30;

    QTemporaryDir dir;
    const qint64 end = QDateTime::currentMSecsSinceEpoch() / Second * Second;
    const qint64 start = end - Week;
    BenchReport report;
    std::fprintf(stderr, "bench: history (a week once a second, %d query repetitions)\n", repeats);

    // Recording: the store writes each batch in one transaction, as its flush does.
    QVector<double> writeMs;
    {
        HistoryStore store(dir.path());
        store.open();
        for (qint64 first = start; first < end; first += PerBatch * Second) {
            const HistoryBatch batch = batchAt(first);
            const qint64 began = monotonicNs();
            if (!store.write(batch)) {
                std::fprintf(stderr, "tsl-bench-history: cannot write %s\n", qPrintable(store.path()));
                return 1;
            }
            writeMs.append(msSince(began));
        }
        // What the core pays: record() queues only.
        QVector<double> recordUs;
        const HistoryBatch batch = batchAt(end);
        for (int round = 0; round < 200; ++round) {
            const qint64 began = monotonicNs();
            for (const HistoryRecord &record : batch)
                store.record(HistoryBatch{record});
            recordUs.append(double(monotonicNs() - began) / 1e3);
            if (round % 20 == 19)
                store.flush();
        }
        store.close();
        report.addSummary(QStringLiteral("history.recordCost"),
                          QStringLiteral("History: record() per 1000 records, on the caller's thread"),
                          summarize(recordUs), QStringLiteral("µs"), QStringLiteral("one record a call"));
    }
    report.addSummary(
        QStringLiteral("history.writeCost"),
        QStringLiteral("History: writing per 1000 records of two fields, on the store's thread"),
        summarize(writeMs), QStringLiteral("ms"), QStringLiteral("one transaction each"));
    report.addValue(QStringLiteral("history.weekFile"), QStringLiteral("History: file of the week"),
                    double(QFile(dir.filePath(QStringLiteral("history.db"))).size()) / (1024 * 1024),
                    QStringLiteral("MiB"));

    HistoryReader reader;
    if (!reader.open(dir.path())) {
        std::fprintf(stderr, "tsl-bench-history: cannot read %s\n", qPrintable(dir.path()));
        return 1;
    }
    struct QueryRow
    {
        const char *id;
        const char *figure;
        qint64 from;
        qint64 to;
    };
    const QueryRow queries[] = {
        {"history.weekQuery", "History: 7 days (604 800 values) into 1000 buckets", start, end},
        {"history.rawQuery", "History: 16 hours (57 600 values) into 1000 buckets, value by value",
         end - 57600 * Second, end},
    };
    for (const QueryRow &query : queries) {
        QVector<double> ms;
        qint64 counted = 0;
        for (int i = 0; i < repeats; ++i) {
            const qint64 began = monotonicNs();
            const HistorySeries series =
                reader.series(Thing, QStringLiteral("t"), query.from, query.to, 1000);
            ms.append(msSince(began));
            counted = 0;
            for (const HistoryBucket &bucket : series.buckets)
                counted += bucket.count;
        }
        report.addSummary(QLatin1String(query.id), QLatin1String(query.figure), summarize(ms),
                          QStringLiteral("ms"), QStringLiteral("%1 values counted").arg(counted));
        report.setTarget(QLatin1String(query.id), QStringLiteral("<= 50 ms median"), BenchReport::Median, 50);
    }

    // Export of a day: both fields, every second.
    NullDevice sink;
    sink.open(QIODevice::WriteOnly);
    HistoryCsvWriter writer(reader);
    const qint64 began = monotonicNs();
    writer.write(&sink, end - 86400 * Second, end);
    const double seconds = msSince(began) / 1000;
    report.addValue(QStringLiteral("history.csvRate"), QStringLiteral("History: CSV export"),
                    double(writer.rowsWritten()) / seconds, QStringLiteral("rows/s"));

    const QByteArray table = report.markdown().toUtf8();
    std::fwrite(table.constData(), 1, size_t(table.size()), stdout);
    QFile out(parser.value(json));
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(report.json()).toJson()) < 0) {
        std::fprintf(stderr, "tsl-bench-history: cannot write %s\n", qPrintable(parser.value(json)));
        return 1;
    }
    return 0;
}
