#pragma once

#include "historyrecord.h"

#include <QObject>
#include <QThread>

class HistoryStore;

// The core's front of the history: a HistoryStore on a thread of its own. record() costs a lock and
// an append, from any thread; the store writes what waits every HistoryStore::FlushIntervalMs, in one
// transaction. The signals arrive on the thread the recorder lives on.
class HistoryRecorder : public QObject
{
    Q_OBJECT

public:
    // The file is "history.db" in the folder (the program's QStandardPaths::AppDataLocation).
    explicit HistoryRecorder(const QString &directory, QObject *parent = nullptr);
    // Writes what waits, then stops the store's thread.
    ~HistoryRecorder() override;

    QString path() const;

    // Any thread.
    void record(const HistoryBatch &batch);
    void record(const HistoryRecord &record) { this->record(HistoryBatch{record}); }
    qint64 droppedRecords() const;
    // Blocks until what was recorded so far is written (or dropped). Not on the store's thread.
    void flush();

signals:
    void fileSetAside(const QString &message);
    void writeFailed(const QString &message);

private:
    QThread m_thread;
    HistoryStore *m_store;
};
