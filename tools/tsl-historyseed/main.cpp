// tsl-historyseed: writes hours of a made-up temperature ramp of one thing into the local history of
// the user (history.db in the program's data folder), for pictures and trials of the trend pane
// before a device has been plugged in that long. One value every 30 s, the thing gone for a while in
// the middle and gone at the end (until the program sees it again).
//   tsl-historyseed --thing thx9_100_ACC-S1 [--hours 4] [--from 18] [--to 24] [--gap-minutes 25]

#include "appidentity.h"
#include "historystore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QStandardPaths>

#include <cmath>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setApplicationIdentity();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a made-up temperature ramp into the local history."));
    parser.addHelpOption();
    const QCommandLineOption thing(QStringLiteral("thing"), QStringLiteral("The thing's short id."),
                                   QStringLiteral("id"));
    const QCommandLineOption hours(QStringLiteral("hours"), QStringLiteral("Hours before now (default 4)."),
                                   QStringLiteral("n"), QStringLiteral("4"));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("First temperature (default 18)."),
                                  QStringLiteral("t"), QStringLiteral("18"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Last temperature (default 24)."),
                                QStringLiteral("t"), QStringLiteral("24"));
    const QCommandLineOption gap(QStringLiteral("gap-minutes"),
                                 QStringLiteral("Minutes unplugged in the middle (default 25)."),
                                 QStringLiteral("n"), QStringLiteral("25"));
    parser.addOptions({thing, hours, from, to, gap});
    parser.process(app);
    const QString id = parser.value(thing);
    const double span = parser.value(hours).toDouble();
    if (id.isEmpty() || !(span > 0)) {
        std::fprintf(stderr, "tsl-historyseed: --thing and a positive --hours are needed\n");
        return 2;
    }
    const double first = parser.value(from).toDouble();
    const double last = parser.value(to).toDouble();
    const qint64 gapMs = parser.value(gap).toLongLong() * 60000;

    const qint64 end = QDateTime::currentMSecsSinceEpoch() - 60000;
    const qint64 start = end - qint64(span * 3600000);
    const qint64 gapStart = start + (end - start) / 2;
    HistoryBatch batch;
    for (qint64 time = start; time < end; time += 30000) {
        if (time >= gapStart && time < gapStart + gapMs) {
            if (time - gapStart < 30000)
                batch.append(HistoryRecord::gone(time, id));
            continue;
        }
        const double share = double(time - start) / double(end - start);
        // Half degrees, as the sensor reports them, with a slow wave on the ramp.
        const double t = first + (last - first) * share + 0.8 * std::sin(share * 18);
        batch.append({time, id, {{QStringLiteral("t"), std::round(t * 2) / 2}}});
    }
    batch.append(HistoryRecord::gone(end, id));
    HistoryStore store(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    store.open();
    if (!store.write(batch)) {
        std::fprintf(stderr, "tsl-historyseed: cannot write %s\n", qPrintable(store.path()));
        return 1;
    }
    store.close();
    return 0;
}
