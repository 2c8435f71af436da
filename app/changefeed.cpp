#include "changefeed.h"

#include "historyrecorder.h"

#include <QDateTime>

ChangeFeed::ChangeFeed(const QString &historyDirectory, QObject *parent) : QObject(parent)
{
    if (historyDirectory.isEmpty())
        return;
    m_recorder = std::make_unique<HistoryRecorder>(historyDirectory);
    connect(m_recorder.get(), &HistoryRecorder::fileSetAside, this, &ChangeFeed::historyTrouble);
    connect(m_recorder.get(), &HistoryRecorder::writeFailed, this, &ChangeFeed::historyTrouble);
}

ChangeFeed::~ChangeFeed()
{
    flush();
}

void ChangeFeed::announce(const ThingState &state)
{
    m_waiting.append(state);
    // A row without a state (a thing that has not read anything yet, a rename) is no point in time.
    if (m_recorder && m_recording && (state.gone || !state.state.isEmpty()))
        record(state);
    if (!m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, &ChangeFeed::flush, Qt::QueuedConnection);
    }
}

void ChangeFeed::record(const ThingState &state)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now != m_recordTime) {
        m_recordTime = now;
        m_recordedNow.clear();
    }
    if (state.gone) {
        m_recordedNow.remove(state.shortid);
        m_toRecord.append(HistoryRecord::gone(now, state.shortid));
        return;
    }
    // The history keeps one value per field and millisecond: a thing's later changes within the same
    // millisecond go into the record already waiting, so the state it ended with is the one kept.
    const auto found = m_recordedNow.constFind(state.shortid);
    if (found != m_recordedNow.cend()) {
        QJsonObject &fields = m_toRecord[found.value()].state;
        for (auto it = state.state.begin(); it != state.state.end(); ++it)
            fields.insert(it.key(), it.value());
        return;
    }
    m_recordedNow.insert(state.shortid, m_toRecord.size());
    m_toRecord.append(HistoryRecord{now, state.shortid, state.state});
}

void ChangeFeed::recordGone(const QStringList &shortids)
{
    if (!m_recorder || !m_recording)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const QString &id : shortids) {
        m_recordedNow.remove(id);
        m_toRecord.append(HistoryRecord::gone(now, id));
    }
}

void ChangeFeed::flush()
{
    m_flushQueued = false;
    if (!m_toRecord.isEmpty()) {
        m_recorder->record(m_toRecord);
        m_toRecord.clear();
        m_recordedNow.clear();
    }
    if (m_waiting.isEmpty())
        return;
    const ThingStateList batch = std::move(m_waiting);
    m_waiting = ThingStateList();
    emit changed(batch);
}
