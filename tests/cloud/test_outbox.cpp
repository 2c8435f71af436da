#include "outbox.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

namespace {

QStringList drain(Outbox &box)
{
    QStringList out;
    while (const Outbox::Entry *head = box.head()) {
        out.append(head->tid + QLatin1Char(' ') + QString::fromUtf8(head->payload));
        box.remove(head->id);
    }
    return out;
}

QStringList numbered(int from, int to)
{
    QStringList out;
    for (int i = from; i < to; ++i)
        out.append(QStringLiteral("t %1").arg(i));
    return out;
}

} // namespace

class TestOutbox : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("outbox.db")); }

private slots:
    void cleanup()
    {
        for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(name));
    }

    // Survives reopening in order; acknowledgements of reports it does not hold change nothing.
    void keepsOrderAcrossReopening()
    {
        {
            Outbox box;
            QVERIFY(box.open(path()));
            // Stored rows first, then reports not written yet: one queue all the same.
            for (int i = 0; i < 5; ++i) {
                box.append(QStringLiteral("t"), QByteArray::number(i), 1000 + i);
                if (i == 2)
                    box.commit();
            }
            QCOMPARE(box.unwritten(), 2);
            box.remove(box.head()->id + 100); // no such report: ignored
            box.remove(box.head()->id);
            QCOMPARE(box.count(), 4);
        }
        Outbox box;
        QVERIFY(box.open(path()));
        QCOMPARE(box.backlog(), (OutboxBacklog{4, 1001, 0, false}));
        QCOMPARE(box.bytes(), 4 * 2);
        const qint64 firstId = box.head()->id;
        QCOMPARE(drain(box), numbered(1, 5));
        // Ids go on increasing after the outbox emptied, so a late acknowledgement hits nothing.
        QVERIFY(box.append(QStringLiteral("t"), "5", 0) > firstId + 3);
        box.clear();
        QCOMPARE(box.backlog(), (OutboxBacklog{0, 0, 0, false}));
    }

    // Reports go out ahead of their acknowledgements, which come in any order: each takes out its
    // own report, the oldest left stays first, the walk goes on behind the sent ones, and what is
    // left survives reopening in order. 300 reports: more than one batch read from the database.
    void acknowledgementsInAnyOrder_data()
    {
        QTest::addColumn<int>("stored"); // reports committed before the walk; -1: no database
        QTest::addColumn<QString>("order");
        QTest::newRow("disk, reversed") << 300 << "reversed";
        QTest::newRow("disk, odd first") << 300 << "odd first";
        QTest::newRow("disk and unwritten, reversed") << 200 << "reversed";
        QTest::newRow("disk and unwritten, in order") << 200 << "in order";
        QTest::newRow("memory, reversed") << -1 << "reversed";
        QTest::newRow("memory, odd first") << -1 << "odd first";
    }
    void acknowledgementsInAnyOrder()
    {
        QFETCH(int, stored);
        QFETCH(QString, order);
        constexpr int Reports = 300;
        constexpr int Sent = 150;
        if (stored > 0) { // left by an earlier run: read back in batches
            Outbox box;
            QVERIFY(box.open(path()));
            for (int i = 0; i < stored; ++i)
                box.append(QStringLiteral("t"), QByteArray::number(i), i);
        }
        {
            Outbox box;
            if (stored >= 0)
                QVERIFY(box.open(path()));
            for (int i = qMax(0, stored); i < Reports; ++i)
                box.append(QStringLiteral("t"), QByteArray::number(i), i);
            QCOMPARE(box.next(0), box.head());
            QVector<qint64> sent;
            for (const Outbox::Entry *e = box.next(0); e && sent.size() < Sent; e = box.next(e->id)) {
                QCOMPARE(e->payload, QByteArray::number(sent.size()));
                sent.append(e->id);
            }
            QCOMPARE(sent.size(), Sent);
            QVector<int> acks; // indexes into sent
            for (int i = 0; i < Sent; ++i)
                acks.append(order == QLatin1String("reversed") ? Sent - 1 - i : i);
            if (order == QLatin1String("odd first"))
                std::stable_partition(acks.begin(), acks.end(), [](int i) { return i % 2 == 1; });
            QSet<int> acknowledged;
            qint64 bytes = box.bytes();
            for (int i : acks) {
                box.remove(sent.at(i));
                box.remove(sent.at(i)); // a second acknowledgement of the same report: nothing
                acknowledged.insert(i);
                int oldest = 0;
                while (acknowledged.contains(oldest))
                    ++oldest;
                QCOMPARE(box.head()->payload, QByteArray::number(oldest));
                QCOMPARE(box.count(), Reports - acknowledged.size());
                bytes -= 1 + QByteArray::number(i).size();
                QCOMPARE(box.bytes(), bytes);
            }
            // The walk goes on behind the last sent report.
            QCOMPARE(box.next(sent.last())->payload, QByteArray::number(Sent));
            QCOMPARE(box.dropped(), 0);
        }
        if (stored < 0)
            return;
        Outbox box;
        QVERIFY(box.open(path()));
        QCOMPARE(drain(box), numbered(Sent, Reports));
    }

    // Full by count or by bytes: the oldest reports go and are counted, on disk and in memory.
    void boundsDropTheOldest_data()
    {
        QTest::addColumn<bool>("onDisk");
        QTest::addColumn<int>("messages");
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<qint64>("dropped");
        // Each report is "t" + two digits: 3 bytes.
        QTest::newRow("count, disk") << true << 3 << qint64(1000) << numbered(17, 20) << qint64(7);
        QTest::newRow("bytes, disk") << true << 100 << qint64(12) << numbered(16, 20) << qint64(6);
        QTest::newRow("count, memory") << false << 3 << qint64(1000) << numbered(17, 20) << qint64(7);
        QTest::newRow("bytes, memory") << false << 100 << qint64(12) << numbered(16, 20) << qint64(6);
    }
    void boundsDropTheOldest()
    {
        QFETCH(bool, onDisk);
        QFETCH(int, messages);
        QFETCH(qint64, bytes);
        QFETCH(QStringList, kept);
        QFETCH(qint64, dropped);
        Outbox box;
        if (onDisk)
            QVERIFY(box.open(path()));
        box.setLimits({messages, bytes});
        for (int i = 10; i < 20; ++i)
            box.append(QStringLiteral("t"), QByteArray::number(i), i);
        // A report larger than the whole bound never fits: dropped at once.
        QCOMPARE(box.append(QStringLiteral("t"), QByteArray(int(bytes), 'x'), 0), 0);
        QCOMPARE(box.dropped(), dropped + 1);
        QCOMPARE(box.backlog().oldestQueued, qint64(20 - kept.size()));
        // A smaller bound applies at once.
        box.setLimits({2, bytes});
        QCOMPARE(box.dropped(), dropped + 1 + kept.size() - 2);
        QCOMPARE(drain(box), kept.mid(kept.size() - 2));
    }

    // A disk that fills up: every report so far moves to memory, the database goes, the log says it
    // once. The file size limit (RLIMIT_FSIZE) stands in for a full file system: the write fails
    // the same way, and no mount is needed.
    void fullDiskFallsBackToMemory()
    {
        Outbox box;
        QVERIFY(box.open(path()));
        box.append(QStringLiteral("t"), "0", 0);

        ::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 256 * 1024;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QStringLiteral("failed to store a report .*memory only")));
        const QByteArray big(4000, 'x');
        // Commits of ten reports each: those of the transaction that fails are kept all the same.
        for (int i = 1; i < 200; ++i) {
            box.append(QStringLiteral("t"), QByteArray::number(i) + ' ' + big, i);
            if (i % 10 == 0)
                box.commit();
        }
        box.commit();
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
        ::signal(SIGXFSZ, SIG_DFL);

        QVERIFY(!box.persistent());
        QVERIFY(box.backlog().memoryOnly);
        QVERIFY(!QFile::exists(path()));
        QCOMPARE(box.count(), 200);
        QCOMPARE(box.dropped(), 0);
        for (int i = 0; i < 200; ++i) {
            QVERIFY(box.head()->payload.startsWith(QByteArray::number(i)));
            box.remove(box.head()->id);
        }
    }

    // A damaged file is set aside and a new outbox made; a second user of one database is refused.
    void damagedOrTakenDatabase()
    {
        {
            QFile junk(path());
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(8192, 'j'));
        }
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral(
                                                "damaged .*set aside as .*outbox\\.db\\.damaged-")));
        Outbox first;
        QVERIFY(first.open(path()));
        QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("outbox.db.damaged-*")}).size(), 1);
        first.append(QStringLiteral("t"), "kept", 0);

        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("in use by another process")));
        Outbox second;
        QVERIFY(!second.open(path()));
        QVERIFY(second.backlog().memoryOnly);
        second.append(QStringLiteral("t"), "elsewhere", 0);
        QCOMPARE(first.count(), 1);
        QCOMPARE(drain(first), QStringList{QStringLiteral("t kept")});
    }
};

QTEST_GUILESS_MAIN(TestOutbox)
#include "test_outbox.moc"
