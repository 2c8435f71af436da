#include "historycsvwriter.h"
#include "historyreader.h"
#include "historystore.h"
#include "settingskeys.h"

#include <QBuffer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

// 2026-12-08T18:06:13.250Z, 19:06 in Central European winter time (the test runs in it).
constexpr qint64 Winter = 1796753173250;
// 2026-07-01T10:00:00Z, noon in summer time.
constexpr qint64 Summer = 1782900000000;

} // namespace

class TestHistoryCsvWriter : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    HistoryReader m_reader;

    QByteArray exported(qint64 from, qint64 to, HistoryCsvWriter::Result expected = HistoryCsvWriter::Written)
    {
        HistoryCsvWriter writer(m_reader);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        const HistoryCsvWriter::Result result = writer.write(&out, from, to);
        return result == expected ? out.data() : QByteArray("unexpected result");
    }

private slots:
    void initTestCase()
    {
        QSettings().setValue(Key::HistoryDays, 3650); // keeps the summer
        HistoryStore store(m_dir.path());
        store.open();
        HistoryBatch batch{
            {Summer, QStringLiteral("gateway_1_?"), {{QStringLiteral("uptime"), 3600}}},
            {Winter,
             QStringLiteral("thx9_1_A1B2"),
             {{QStringLiteral("t"), 21.5},
              {QStringLiteral("alarm"), true},
              {QStringLiteral("note"), QStringLiteral("door, \"left\" open")},
              {QStringLiteral("lines"), QStringLiteral("a\r\nb")},
              {QStringLiteral("plain"), QStringLiteral("ok")}}},
            HistoryRecord::gone(Winter + 1000, QStringLiteral("thx9_1_A1B2")),
        };
        for (int i = 0; i < 5000; ++i)
            batch.append(
                {Winter + 10000 + i, QStringLiteral("thx9_2_C3D4"), {{QStringLiteral("t"), i * 0.25}}});
        QVERIFY(store.write(batch));
        store.close();
        QVERIFY(m_reader.open(m_dir.path()));
    }

    // Local times with their offset, values as recorded, text quoted where RFC 4180 wants it, CRLF.
    void writesRows()
    {
        QCOMPARE(exported(Summer, Winter + 1),
                 QByteArray("time,thing,field,value\r\n"
                            "2026-07-01T12:00:00.000+02:00,gateway_1_?,uptime,3600\r\n"
                            "2026-12-08T19:06:13.250+01:00,thx9_1_A1B2,alarm,1\r\n"
                            "2026-12-08T19:06:13.250+01:00,thx9_1_A1B2,lines,\"a\r\nb\"\r\n"
                            "2026-12-08T19:06:13.250+01:00,thx9_1_A1B2,note,\"door, \"\"left\"\" open\"\r\n"
                            "2026-12-08T19:06:13.250+01:00,thx9_1_A1B2,plain,ok\r\n"
                            "2026-12-08T19:06:13.250+01:00,thx9_1_A1B2,t,21.5\r\n"));
        QCOMPARE(exported(Winter + 1, Winter + 10000), QByteArray("time,thing,field,value\r\n"));
        QCOMPARE(exported(Winter, Winter), QByteArray("time,thing,field,value\r\n"));
    }

    // With a thing set, only its values; an id without history writes the header alone.
    void oneThing()
    {
        HistoryCsvWriter writer(m_reader);
        writer.setThing(QStringLiteral("thx9_1_A1B2"));
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QCOMPARE(writer.write(&out, Summer, Winter + 20000), HistoryCsvWriter::Written);
        QCOMPARE(writer.rowsWritten(), qint64(5));
        QVERIFY(!out.data().contains("gateway_1_?") && !out.data().contains("thx9_2_C3D4"));

        HistoryCsvWriter none(m_reader);
        none.setThing(QStringLiteral("thx9_9_NONE"));
        QBuffer empty;
        empty.open(QIODevice::WriteOnly);
        QCOMPARE(none.write(&empty, Summer, Winter + 20000), HistoryCsvWriter::Written);
        QCOMPARE(empty.data(), QByteArray("time,thing,field,value\r\n"));
    }

    // Chunks report their progress; a cancel stops at the next chunk with whole lines written.
    void progressAndCancel()
    {
        QVector<double> seen;
        HistoryCsvWriter writer(m_reader);
        writer.setProgress([&](double done) { seen.append(done); });
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QCOMPARE(writer.write(&out, Winter, Winter + 20000), HistoryCsvWriter::Written);
        QCOMPARE(writer.rowsWritten(), qint64(5005));
        QVERIFY(seen.size() >= 3);
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QCOMPARE(seen.last(), 1.0);

        HistoryCsvWriter cancelled(m_reader);
        cancelled.setProgress([&cancelled](double) { cancelled.cancel(); });
        QBuffer part;
        part.open(QIODevice::WriteOnly);
        QCOMPARE(cancelled.write(&part, Winter, Winter + 20000), HistoryCsvWriter::Cancelled);
        QVERIFY(part.size() >= HistoryCsvWriter::ChunkBytes && part.size() < out.size());
        QVERIFY(part.data().endsWith("\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestHistoryCsvWriter)
#include "test_historycsvwriter.moc"
