#include "historyrecorder.h"

#include "historystore.h"

HistoryRecorder::HistoryRecorder(const QString &directory, QObject *parent)
    : QObject(parent), m_store(new HistoryStore(directory))
{
    m_thread.setObjectName(QStringLiteral("history"));
    m_store->moveToThread(&m_thread);
    connect(&m_thread, &QThread::started, m_store, &HistoryStore::open);
    connect(m_store, &HistoryStore::fileSetAside, this, &HistoryRecorder::fileSetAside);
    connect(m_store, &HistoryStore::writeFailed, this, &HistoryRecorder::writeFailed);
    m_thread.start();
}

HistoryRecorder::~HistoryRecorder()
{
    QMetaObject::invokeMethod(m_store, &HistoryStore::close, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_store; // its thread has ended and its timer is stopped
}

QString HistoryRecorder::path() const
{
    return m_store->path();
}

void HistoryRecorder::record(const HistoryBatch &batch)
{
    m_store->record(batch);
}

qint64 HistoryRecorder::droppedRecords() const
{
    return m_store->droppedRecords();
}

void HistoryRecorder::flush()
{
    QMetaObject::invokeMethod(m_store, &HistoryStore::flush, Qt::BlockingQueuedConnection);
}
