#pragma once

#include "historydatabase.h"
#include "historyrecord.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <map>
#include <tuple>

// The writer of the history file "history.db" in a folder given by the owner (the program passes
// QStandardPaths::AppDataLocation): every state a thing announces, kept until it is older than
// History/Days or the file reaches History/MB, whichever comes first; then the oldest go.
//
// Threading: the store is the file's only writer and lives on one thread of its own (HistoryRecorder
// hosts it on one); every member but record() and droppedRecords() is called on that thread. record()
// may be called from any thread: it only queues, and the store writes what waits in one transaction
// every FlushIntervalMs.
//
// Trouble keeps the caller running. A damaged file is set aside under a new name and a new one started
// (fileSetAside, once per file). A batch that cannot be written (disk full, file size limit, I/O error)
// is dropped; writeFailed says so once, and again only after a batch was written in between. The next
// flush tries again. The store ignores SIGXFSZ (unless the program handles it), so that a file size
// limit fails the write instead of ending the process.
class HistoryStore : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        int days = 30;
        int megabytes = 256;
    };
    static constexpr int FlushIntervalMs = 500;
    // Records waiting beyond this are dropped (and counted) until the store caught up.
    static constexpr int MaxWaiting = 200000;
    // How often the day bound is applied while the store runs; the size bound is checked every batch.
    static constexpr qint64 PruneIntervalMs = 60 * 1000;

    explicit HistoryStore(const QString &directory, QObject *parent = nullptr);
    ~HistoryStore() override;

    QString path() const { return m_path; }
    // The bounds as the settings hold them now; a value out of range reads as the default.
    static Limits configuredLimits();

    // Any thread: queues the records for the next flush.
    void record(const HistoryBatch &batch);
    qint64 droppedRecords() const;

    // Writes the batch now, in one transaction; false when it was dropped.
    bool write(const HistoryBatch &batch);
    // Applies the configured bounds now.
    void prune();
    bool isOpen() const { return m_db.isOpen(); }

public slots:
    // Opens (or creates) the file, applies the bounds and starts flushing what record() queues.
    void open();
    // Writes what record() queued.
    void flush();
    // Flushes, stops the timer and closes the file.
    void close();

signals:
    void fileSetAside(const QString &message);
    void writeFailed(const QString &message);

private:
    struct Cell
    {
        double lo = 0;
        double hi = 0;
        qint64 at = 0;
        double last = 0;
        qint64 count = 0;
    };
    using CellKey = std::tuple<qint64, int, qint64>; // series, level, start
    struct Thing
    {
        qint64 id = 0;
        QHash<QString, qint64> numeric; // series by field name
        QHash<QString, qint64> text;
    };

    bool ensureOpen();
    void setAside(const QString &why);
    void prepareStatements();
    void forgetIds();
    bool loadOpenGaps();
    bool writeRecords(const HistoryBatch &batch);
    bool writeRecord(const HistoryRecord &record, std::map<CellKey, Cell> &cells);
    Thing *thing(const QString &name);
    qint64 series(Thing *thing, const QString &field, bool numeric);
    qint64 idOf(HistoryQuery &find, HistoryQuery &insert, const QByteArray &name, qint64 number);
    void failed(const QString &what);
    void pruneBefore(qint64 cutoff);
    void enforceSize();
    qint64 usedBytes();

    QString m_path;
    HistoryDatabase m_db;
    QTimer m_timer;
    Limits m_limits;
    qint64 m_lastPrune = 0;
    bool m_failing = false;

    HistoryQuery m_findThing, m_insertThing, m_findField, m_insertField, m_findSeries, m_insertSeries;
    HistoryQuery m_insertSample, m_upsertCell, m_openGap, m_closeGap;
    QHash<QString, Thing> m_things;
    QHash<qint64, qint64> m_openGaps;     // thing id: since when it is gone
    QHash<QString, qint64> m_fieldIds[2]; // text, numeric

    mutable QMutex m_waitingLock;
    HistoryBatch m_waiting;
    qint64 m_dropped = 0;
};
