// The window with a sensor chosen on the dashboard and twelve hours of its temperature in the trend pane
// (a gap where it was unplugged, a spike, then a live ramp), on a real X display, written as a PNG.
//   trendsnapshot <file.png> [--dark]   (under xvfb-run with QT_QPA_PLATFORM=xcb; a history of its own)
#include "appidentity.h"
#include "apptheme.h"
#include "historystore.h"
#include "mainwindow.h"
#include "runnerhost.h"
#include "thingsstatetablemodel.h"
#include "trendpane.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdio>

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    for (const char *sub : {"/config", "/data", "/cache", "/run"})
        QDir().mkpath(home.path() + QLatin1String(sub));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + "/cache"));
    QApplication app(argc, argv);
    setApplicationIdentity();
    app.setQuitOnLastWindowClosed(false);
    if (app.arguments().size() < 2) {
        std::fprintf(stderr, "usage: trendsnapshot <file.png> [--dark]\n");
        return 2;
    }
    if (app.arguments().contains(QStringLiteral("--dark")))
        AppTheme::choose(true, QString());
    ThingState::registerMetaTypes();
    QSettings().setValue(QStringLiteral("Updates/Auto"), false);

    const QString id = QStringLiteral("thx9_100_A1B2");
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 start = now - 12 * 3600 * 1000LL;
    HistoryBatch batch;
    for (qint64 t = start; t < now - 120000; t += 30000) {
        const double share = double(t - start) / double(now - start);
        if (share > 0.55 && share < 0.62) {
            if (batch.isEmpty() || !batch.last().isGone())
                batch.append(HistoryRecord::gone(t, id));
            continue;
        }
        const double v = 18 + 5 * share + 0.8 * std::sin(share * 30);
        batch.append({t, id, {{QStringLiteral("t"), std::round(v * 2) / 2}}});
    }
    batch.append({start + 4 * 3600 * 1000LL + 15000, id, {{QStringLiteral("t"), 31.0}}}); // a short spike
    {
        HistoryStore store(TrendPane::defaultDirectory());
        store.open();
        store.write(batch);
        store.close();
    }

    MainWindow w;
    w.resize(900, 640);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    auto row = [&](double t) {
        ThingState s;
        s.shortid = id;
        s.name = QStringLiteral("Boiler room");
        s.regid = QStringLiteral("77");
        s.state = {{QStringLiteral("t"), t}};
        return s;
    };
    RunnerHost *host = w.runnerHost();
    emit host->thingsChanged({row(22.5)});
    auto *table = w.findChild<QTableView *>(QStringLiteral("deviceStateTable"));
    auto *model = static_cast<ThingsStateTableModel *>(table->model());
    auto *pane = w.findChild<TrendPane *>(QStringLiteral("trendPane"));
    QSignalSpy drawn(pane, &TrendPane::drawn);
    for (int i = 0; i < model->rowCount(); ++i) {
        if (model->thingAt(i).shortid == id)
            table->selectRow(i);
    }
    if (!drawn.wait(10000))
        return 1;
    for (int i = 1; i <= 4; ++i) {
        emit host->thingsChanged({row(22.5 + i * 0.5)});
        QTest::qWait(50);
    }
    QTest::qWait(500);
    const QPixmap shot = w.screen()->grabWindow(w.winId());
    if (!shot.save(app.arguments().at(1))) {
        std::fprintf(stderr, "trendsnapshot: cannot write %s\n", qPrintable(app.arguments().at(1)));
        return 1;
    }
    return 0;
}
