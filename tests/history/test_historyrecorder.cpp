#include "historyreader.h"
#include "historyrecorder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

class TestHistoryRecorder : public QObject
{
    Q_OBJECT

private slots:
    // Records from several threads all arrive; what waits at the end is written on destruction; a
    // damaged file is reported on the recorder's thread.
    void recordsFromAnyThread()
    {
        QTemporaryDir dir;
        {
            QFile garbage(dir.filePath(QStringLiteral("history.db")));
            QVERIFY(garbage.open(QIODevice::WriteOnly));
            garbage.write(QByteArray(8192, 'x'));
        }
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        {
            HistoryRecorder recorder(dir.path());
            QSignalSpy aside(&recorder, &HistoryRecorder::fileSetAside);
            auto feed = [&recorder, now](const QString &thing) {
                for (int i = 0; i < 2000; ++i)
                    recorder.record({now + i, thing, {{QStringLiteral("t"), i}}});
            };
            std::thread first(feed, QStringLiteral("thx9_1_A"));
            std::thread second(feed, QStringLiteral("thx9_2_B"));
            first.join();
            second.join();
            recorder.flush();
            QVERIFY(aside.wait(5000) || aside.count() == 1);
            QCOMPARE(aside.count(), 1);

            HistoryReader reader;
            QVERIFY(reader.open(dir.path()));
            for (const QString &thing : {QStringLiteral("thx9_1_A"), QStringLiteral("thx9_2_B")}) {
                const HistorySeries s = reader.series(thing, QStringLiteral("t"), now, now + 2000, 1);
                QCOMPARE(s.buckets.size(), 1);
                QCOMPARE(s.buckets[0].count, qint64(2000));
                QCOMPARE(s.buckets[0].last, 1999.0);
            }
            recorder.record(HistoryRecord::gone(now + 5000, QStringLiteral("thx9_1_A")));
            QCOMPARE(recorder.droppedRecords(), qint64(0));
        }
        HistoryReader reader;
        QVERIFY(reader.open(dir.path()));
        QCOMPARE(reader.gaps(QStringLiteral("thx9_1_A"), now, now + 10000),
                 QVector<HistoryGap>({{now + 5000, 0}}));
    }
};

QTEST_GUILESS_MAIN(TestHistoryRecorder)
#include "test_historyrecorder.moc"
