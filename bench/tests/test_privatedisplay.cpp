#include "benchstats.h"
#include "privatedisplay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestPrivateDisplay : public QObject
{
    Q_OBJECT

private slots:
    // The dashboard load program on a display of its own: its window is seen mapped under its
    // title (and no other), and it reports the changes it applied and the probe's lateness.
    void dashboardLoadOnPrivateDisplay()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            QSKIP("Xvfb is not installed");
        QTemporaryDir dir;
        PrivateDisplay display;
        QVERIFY2(display.start(dir.path()), qPrintable(display.errorString()));
        QVERIFY(display.name().startsWith(QLatin1Char(':')));

        QProcess load;
        load.setProgram(qEnvironmentVariable("TSL_TEST_BUILD_DIR") +
                        QStringLiteral("/bin/tsl-bench-dashboard"));
        load.setArguments({QStringLiteral("--rows"), QStringLiteral("50"), QStringLiteral("--rate"),
                           QStringLiteral("500"), QStringLiteral("--seconds"), QStringLiteral("2"),
                           QStringLiteral("--quiet-seconds"), QStringLiteral("1"), QStringLiteral("--title"),
                           QStringLiteral("Load test")});
        load.setProcessEnvironment(display.environment(QProcessEnvironment::systemEnvironment()));
        const qint64 start = monotonicNs();
        load.start();
        const auto running = [&load] { return !load.waitForFinished(0); };
        const qint64 shown = display.waitForWindow(QStringLiteral("Load test"), 20000, running);
        QVERIFY2(shown > start, load.readAllStandardError().constData());
        QCOMPARE(display.waitForWindow(QStringLiteral("Load"), 300, running), qint64(-1));

        QVERIFY(load.waitForFinished(30000));
        QCOMPARE(load.exitCode(), 0);
        const QJsonObject r = QJsonDocument::fromJson(load.readAllStandardOutput()).object();
        QCOMPARE(r.value(QStringLiteral("rows")).toInt(), 50);
        // 500 changes a second for the 2 s it reports, give or take the last milliseconds' batch.
        const double seconds = r.value(QStringLiteral("seconds")).toDouble();
        QVERIFY2(qAbs(seconds - 2) < 0.1, qPrintable(QString::number(seconds)));
        QVERIFY(qAbs(r.value(QStringLiteral("applied")).toInt() - 500 * seconds) <= 10);
        QVERIFY(r.value(QStringLiteral("cpuPercent")).toDouble() > 0);
        // A 10 ms probe: about 100 samples a second, never negative.
        for (const char *key : {"quietLatenessMs", "latenessMs"}) {
            const QJsonArray samples = r.value(QLatin1String(key)).toArray();
            QVERIFY2(samples.size() >= 40, key);
            for (const QJsonValue &v : samples)
                QVERIFY(v.toDouble() >= 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestPrivateDisplay)
#include "test_privatedisplay.moc"
