#include "historyreader.h"
#include "historystore.h"
#include "settingskeys.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

namespace {

const QString Sensor = QStringLiteral("thx9_1_A1B2");
constexpr qint64 Second = 1000;
constexpr qint64 Day = 86400 * Second;

// One record a step from first on; the value counts up.
HistoryBatch records(qint64 first, int count, qint64 step = Second, int textBytes = 0)
{
    HistoryBatch batch;
    batch.reserve(count);
    for (int i = 0; i < count; ++i) {
        QJsonObject state{{QStringLiteral("t"), i}};
        if (textBytes > 0)
            state.insert(QStringLiteral("note"), QString(textBytes, QLatin1Char('x')));
        batch.append({first + i * step, Sensor, state});
    }
    return batch;
}

// The times of the oldest and the newest value, and how many there are.
struct Span
{
    qint64 oldest = 0;
    qint64 newest = 0;
    qint64 count = 0;
};
Span span(const QString &directory)
{
    HistoryReader reader;
    Span found;
    if (!reader.open(directory))
        return found;
    const std::unique_ptr<HistoryCursor> rows = reader.rows(0, LLONG_MAX);
    HistoryRow row;
    while (rows->next(&row)) {
        found.oldest = found.count == 0 ? row.time : found.oldest;
        found.newest = row.time;
        ++found.count;
    }
    return found;
}

QStringList asideFiles(const QString &directory)
{
    return QDir(directory).entryList({QStringLiteral("history.db.damaged-*")}, QDir::Files);
}

} // namespace

class TestHistoryStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const qint64 m_now = QDateTime::currentMSecsSinceEpoch();

private slots:
    void cleanup()
    {
        QSettings().clear();
        for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(name));
    }

    // History/Days: older values go when the store starts and while it runs; a value out of range
    // reads as the nearest bound, one that is no number as the default.
    void keepsDays()
    {
        HistoryStore store(m_dir.path());
        store.open();
        QVERIFY(store.write(records(m_now - 10 * Day, 10 * 24 * 60, 60 * Second)));
        QCOMPARE(span(m_dir.path()).count, qint64(10 * 24 * 60));
        store.close();

        QSettings().setValue(Key::HistoryDays, 0);
        QCOMPARE(HistoryStore::configuredLimits().days, 1); // the table's lower bound
        QSettings().setValue(Key::HistoryDays, "many");
        QCOMPARE(HistoryStore::configuredLimits().days, 30);
        QSettings().setValue(Key::HistoryDays, 7);
        store.open();
        const Span week = span(m_dir.path());
        QVERIFY(week.oldest >= m_now - 7 * Day);
        QVERIFY(week.oldest <= m_now - 7 * Day + 60 * Second);
        QCOMPARE(week.newest, m_now - 60 * Second);

        QSettings().setValue(Key::HistoryDays, 3);
        store.prune();
        QVERIFY(span(m_dir.path()).oldest >= m_now - 3 * Day);
        // The rollups went with the values: a long range counts only what is left.
        HistoryReader reader;
        QVERIFY(reader.open(m_dir.path()));
        qint64 counted = 0;
        for (const HistoryBucket &b : reader.series(Sensor, "t", m_now - 10 * Day, m_now, 10).buckets)
            counted += b.count;
        QCOMPARE(counted, span(m_dir.path()).count);
    }

    // History/MB: the file stops growing at the bound (give or take a batch); the newest values
    // stay, the oldest go first.
    void keepsMegabytes()
    {
        QSettings().setValue(Key::HistoryMB, 1);
        HistoryStore store(m_dir.path());
        store.open();
        const int perBatch = 600;
        const int batches = 200; // some 4 MB of values at this size
        const qint64 bound = 1024 * 1024 + 64 * 1024;
        for (int i = 0; i < batches; ++i) {
            QVERIFY(store.write(records(m_now - Day + i * perBatch * Second, perBatch, Second, 16)));
            QVERIFY2(QFileInfo(store.path()).size() <= bound, qPrintable(QString::number(i)));
        }
        store.close();
        QVERIFY(QFileInfo(store.path()).size() <= bound);
        const Span kept = span(m_dir.path());
        QCOMPARE(kept.newest, m_now - Day + (qint64(batches) * perBatch - 1) * Second);
        QVERIFY(kept.count > perBatch);
        QVERIFY(kept.count < qint64(batches) * perBatch / 2);
        QCOMPARE(kept.newest - kept.oldest, (kept.count / 2 - 1) * Second); // two fields a second, no holes
    }

    // A file that is no database, or one whose pages are damaged, is set aside once and a new one
    // started; what the new one records is all the readers see.
    void setsDamagedFileAside_data()
    {
        QTest::addColumn<bool>("wasHistory");
        QTest::newRow("not a database") << false;
        QTest::newRow("damaged pages") << true;
    }
    void setsDamagedFileAside()
    {
        QFETCH(bool, wasHistory);
        const QString path = m_dir.filePath(QStringLiteral("history.db"));
        if (wasHistory) {
            HistoryStore before(m_dir.path());
            before.open();
            QVERIFY(before.write(records(m_now - Day, 20000)));
            before.close();
        }
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const qint64 size = qMax<qint64>(file.size(), 16384);
            file.seek(wasHistory ? 4096 : 0);
            file.write(QByteArray(int(size - (wasHistory ? 8192 : 0)), '\xa5'));
        }
        for (int start = 0; start < 2; ++start) {
            HistoryStore store(m_dir.path());
            QSignalSpy aside(&store, &HistoryStore::fileSetAside);
            store.open();
            QCOMPARE(aside.count(), start == 0 ? 1 : 0);
            QVERIFY(store.write(records(m_now + start * 10 * Second, 3)));
            store.close();
        }
        QCOMPARE(asideFiles(m_dir.path()).size(), 1);
        QCOMPARE(span(m_dir.path()).count, qint64(6));
    }

    // A full disk (the file size limit stands in for it; SIGXFSZ is the store's to ignore): batches
    // are dropped and said once until one is written again; recording goes on after the limit.
    void survivesFullDisk()
    {
        HistoryStore store(m_dir.path());
        QSignalSpy failed(&store, &HistoryStore::writeFailed);
        store.open();
        QVERIFY(store.write(records(m_now, 10)));
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        auto limitFiles = [&saved](bool limited) {
            rlimit limit = saved;
            limit.rlim_cur = limited ? 512 * 1024 : saved.rlim_cur;
            return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        };
        qint64 next = m_now + 10 * Second;
        int dropped = 0;
        for (int round = 1; round <= 2; ++round) {
            QVERIFY(limitFiles(true));
            for (int i = 0; i < 20; ++i, next += 100 * Second)
                dropped += store.write(records(next, 100, Second, 2000)) ? 0 : 1;
            QVERIFY(limitFiles(false));
            QCOMPARE(failed.count(), round);
            QVERIFY(failed.last().at(0).toString().contains(store.path()));
            QVERIFY(store.write(records(next, 5)));
            next += 5 * Second;
        }
        QVERIFY(dropped >= 2);
        store.close();
        const Span kept = span(m_dir.path());
        QCOMPARE(kept.oldest, m_now);
        QCOMPARE(kept.newest, next - Second);
        QCOMPARE(kept.count % 5, qint64(0)); // whole batches, or none of one
    }
};

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "test_historystore.moc"
