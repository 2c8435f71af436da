#include "appidentity.h"
#include "historystore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// tsl-gated --export-history through the built program, over a history written here.
class TestExportHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_out;

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        // 2026-12-08 12:00 UTC on, one value a minute for an hour, then the sensor gone.
        const qint64 start = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
        HistoryBatch batch;
        for (int minute = 0; minute < 60; ++minute)
            batch.append({start + minute * 60000LL,
                          QStringLiteral("thx9_1_T1"),
                          {{QStringLiteral("t"), 20 + minute * 0.5}}});
        batch.append(HistoryRecord::gone(start + 3600000, QStringLiteral("thx9_1_T1")));
        batch.append({start, QStringLiteral("vgl5_1_W1"), {{QStringLiteral("pwr"), 1}}});
        QSettings().setValue(QStringLiteral("History/Days"), 3650);
        HistoryStore store(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        store.open();
        QVERIFY(store.write(batch));
        store.close();
    }

    void exportHistory_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output"); // on standard output (or in the file of --out)
        QTest::addColumn<QString>("error");     // on standard error
        const QByteArray header = "time,thing,field,value\r\n";
        QTest::newRow("good range") << QStringList{"--export-history", "thx9_1_T1",
                                                   "--since",          "2026-12-08T12:00:00Z",
                                                   "--until",          "2026-12-08T12:02:00Z"}
                                    << 0
                                    << header + "2026-12-08T12:00:00.000+00:00,thx9_1_T1,t,20\r\n2026-12-"
                                                "08T12:01:00.000+00:00,thx9_1_T1,t,20.5\r\n"
                                    << QString();
        QTest::newRow("into a file") << QStringList{"--export-history",          "thx9_1_T1", "--since",
                                                    "2026-12-08T12:59:00+00:00", "--out",     "FILE"}
                                     << 0 << header + "2026-12-08T12:59:00.000+00:00,thx9_1_T1,t,49.5\r\n"
                                     << QString();
        QTest::newRow("empty range") << QStringList{"--export-history", "thx9_1_T1", "--since",
                                                    "2026-12-09",       "--until",   "2026-12-10"}
                                     << 0 << header << QString();
        QTest::newRow("bad time") << QStringList{"--export-history", "thx9_1_T1", "--since", "yesterday"} << 2
                                  << QByteArray() << "tsl-gated: --since: not an ISO 8601 time: yesterday";
        QTest::newRow("unknown thing") << QStringList{"--export-history", "thx9_1_NONE"} << 1 << QByteArray()
                                       << "tsl-gated: no history of a thing \"thx9_1_NONE\"";
        QTest::newRow("unwritable file")
            << QStringList{"--export-history", "thx9_1_T1", "--out", "/nonexistent/dir/out.csv"} << 1
            << QByteArray() << "tsl-gated: cannot write /nonexistent/dir/out.csv";
        QTest::newRow("since alone") << QStringList{"--since", "2026-12-08"} << 2 << QByteArray()
                                     << "--since needs --export-history.";
    }

    void exportHistory()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QFETCH(QString, error);
        const QString file = m_out.filePath(QStringLiteral("out.csv"));
        QFile::remove(file);
        args.replaceInStrings(QStringLiteral("FILE"), file);

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("TSL_TEST_BUILD_DIR") + "/bin/tsl-gated", args);
        QVERIFY(process.waitForFinished(60000));
        const QByteArray out = process.readAllStandardOutput();
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == exitCode, qPrintable(err));
        if (args.contains(file)) {
            QCOMPARE(out, QByteArray());
            QFile written(file);
            QVERIFY(written.open(QIODevice::ReadOnly));
            QCOMPARE(written.readAll(), output);
        } else {
            QCOMPARE(out, output);
        }
        QVERIFY2(err.contains(error), qPrintable(err));
        if (exitCode != 0)
            QVERIFY(!QFile::exists(file));
    }
};

QTEST_GUILESS_MAIN(TestExportHistory)
#include "test_exporthistory.moc"
