#include "appidentity.h"
#include "historyexport.h"
#include "historystore.h"
#include "mainwindow.h"
#include "runnerhost.h"
#include "settingskeys.h"
#include "thingsstatetablemodel.h"
#include "trendchart.h"
#include "trendpane.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QValueAxis>

// The dashboard's trend pane in the window: a row chosen shows the thing's recorded history, with
// its gap, and the states the window receives from then on appear in the chart without a reload.
class TestWindowTrend : public QObject
{
    Q_OBJECT

    static constexpr char Sensor[] = "thx9_1_T1";

    template <typename T> static T *child(QWidget &w, const char *name)
    {
        T *found = w.findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no %s in the window", name);
        return found;
    }

    static ThingState sensor(double t)
    {
        ThingState state;
        state.shortid = QString::fromLatin1(Sensor);
        state.name = QStringLiteral("Boiler");
        state.state = {{QStringLiteral("t"), t}};
        return state;
    }

    static int pointCount(const QVector<QVector<QPointF>> &stretches)
    {
        int count = 0;
        for (const auto &stretch : stretches)
            count += stretch.size();
        return count;
    }

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        qApp->setQuitOnLastWindowClosed(false);
        ThingState::registerMetaTypes();
        // Three hours of a ramp, 20.0 to 38.0 °C, one value a minute, and the sensor unplugged for
        // twenty minutes in the middle; one spike of a second that a bucket's maximum keeps.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 start = now - 3 * 3600 * 1000LL;
        HistoryBatch batch;
        for (int minute = 0; minute < 180; ++minute) {
            const qint64 time = start + minute * 60000LL;
            if (minute == 80)
                batch.append(HistoryRecord::gone(time, QString::fromLatin1(Sensor)));
            if (minute >= 80 && minute < 100)
                continue;
            batch.append({time, QString::fromLatin1(Sensor), {{QStringLiteral("t"), 20.0 + minute * 0.1}}});
            if (minute == 40)
                batch.append({time + 1000, QString::fromLatin1(Sensor), {{QStringLiteral("t"), 90.0}}});
        }
        QSettings().setValue(QStringLiteral("Plugins/thx9/unit"), QStringLiteral("Fahrenheit"));
        QDir(TrendPane::defaultDirectory()).removeRecursively(); // of an earlier run
        HistoryStore store(TrendPane::defaultDirectory());
        store.open();
        QVERIFY(store.write(batch));
        store.close();
    }

    void rampShowsLive()
    {
        MainWindow w;
        w.resize(1000, 700);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *pane = child<TrendPane>(w, "trendPane");
        QVERIFY(!pane->isVisible());

        RunnerHost *host = w.runnerHost();
        emit host->thingsChanged({sensor(38.0)});
        auto *table = child<QTableView>(w, "deviceStateTable");
        auto *model = static_cast<ThingsStateTableModel *>(table->model());
        int row = -1;
        for (int i = 0; i < model->rowCount(); ++i) {
            if (model->thingAt(i).shortid == QLatin1String(Sensor))
                row = i;
        }
        QVERIFY(row >= 0);

        QSignalSpy drawn(pane, &TrendPane::drawn);
        table->selectRow(row);
        QVERIFY(pane->isVisible());
        QCOMPARE(pane->thing(), QString::fromLatin1(Sensor));
        QVERIFY(drawn.wait(5000));

        // The history: two stretches around the gap, the spike kept, the unit of the plug-in.
        TrendChart *chart = pane->chart();
        const auto before = chart->stretches(QStringLiteral("t"));
        QCOMPARE(before.size(), 2);
        const auto *values = qobject_cast<QtCharts::QValueAxis *>(chart->axes(Qt::Vertical).constFirst());
        QVERIFY(values);
        QCOMPARE(values->titleText(), QStringLiteral("°F"));
        QVERIFY(values->max() >= 90.0);
        QVERIFY(before.first().last().x() < before.last().first().x());

        // Live: a ramp of states arrives, points appear (or the last one moves) without a query.
        const int points = pointCount(before);
        for (int i = 1; i <= 10; ++i) {
            emit host->thingsChanged({sensor(38.0 + i)});
            QTest::qWait(20);
        }
        QCOMPARE(drawn.count(), 1);
        const auto after = chart->stretches(QStringLiteral("t"));
        QVERIFY(pointCount(after) >= points);
        QCOMPARE(after.last().last().y(), 48.0);
        QVERIFY(values->max() >= 48.0);
        const auto *time = qobject_cast<QtCharts::QDateTimeAxis *>(chart->axes(Qt::Horizontal).constFirst());
        QVERIFY(time->max().toMSecsSinceEpoch() >= after.last().last().x());

        // A longer range asks again and draws the same history.
        child<QComboBox>(w, "trendRangeCombo")->setCurrentIndex(TrendPane::LastWeek);
        QVERIFY(drawn.wait(5000));
        QCOMPARE(chart->stretches(QStringLiteral("t")).size(), 2);

        // Unplugged: the row goes, the pane keeps the sensor and its line breaks at once.
        ThingState gone = sensor(0);
        gone.gone = true;
        emit host->thingsChanged({gone});
        QVERIFY(model->thingAt(row).shortid != QLatin1String(Sensor));
        QCOMPARE(pane->thing(), QString::fromLatin1(Sensor));
        emit host->thingsChanged({sensor(30.0)});
        QCOMPARE(chart->stretches(QStringLiteral("t")).size(), 3);
        QCOMPARE(chart->stretches(QStringLiteral("t")).last().size(), 1);
    }

    // The window's export: the file written off the main thread, only the thing's rows; a file that
    // cannot be written is said plainly.
    void exportsOneThing()
    {
        MainWindow w;
        QTemporaryDir out;
        const QString file = out.filePath(QStringLiteral("sensor.csv"));
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        QCOMPARE(HistoryExportDialog::exportTo(TrendPane::defaultDirectory(), QString::fromLatin1(Sensor),
                                               now - 4 * 3600 * 1000LL, now, file, &w),
                 QString());
        QFile csv(file);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.first(), QByteArray("time,thing,field,value\r"));
        QCOMPARE(lines.size(), 1 + 160 + 1 + 1); // header, 160 values and the spike, the empty end
        QVERIFY(lines.at(1).contains(",thx9_1_T1,t,20\r"));
        const QString error =
            HistoryExportDialog::exportTo(TrendPane::defaultDirectory(), QString::fromLatin1(Sensor),
                                          now - 3600000, now, QStringLiteral("/nonexistent/x.csv"), &w);
        QVERIFY2(error.startsWith(QStringLiteral("The file /nonexistent/x.csv cannot be written")),
                 qPrintable(error));
    }
};

QTEST_MAIN(TestWindowTrend)
#include "test_windowtrend.moc"
