#pragma once

#include "historyrecord.h"
#include "thingstate.h"

#include <QHash>
#include <QObject>

#include <memory>

class HistoryRecorder;

// The things' announcements on their way out of the worker thread. announce() gathers them; once per
// turn of the worker's event loop (or at once by flush()) they leave as one batch, in order, so the
// main thread wakes once for a burst of readings rather than once per reading. Every state with
// fields, and every "gone", is also recorded in the history as it is announced.
class ChangeFeed : public QObject
{
    Q_OBJECT

public:
    // historyDirectory: where "history.db" lives; empty records nothing.
    explicit ChangeFeed(const QString &historyDirectory, QObject *parent = nullptr);
    ~ChangeFeed() override;

    void announce(const ThingState &state);
    // Marks these things gone in the history alone (the gateway is shutting down).
    void recordGone(const QStringList &shortids);
    // Hands over what waits now; nothing when nothing waits.
    void flush();

    // Recording can be switched off (benchmarks compare the cost); on by default.
    void setRecording(bool on) { m_recording = on; }
    HistoryRecorder *recorder() const { return m_recorder.get(); }

signals:
    void changed(const ThingStateList &batch);
    // The history's file was damaged and set aside, or cannot be written: said once per trouble.
    void historyTrouble(const QString &text);

private:
    void record(const ThingState &state);

    std::unique_ptr<HistoryRecorder> m_recorder;
    ThingStateList m_waiting;
    HistoryBatch m_toRecord;
    // The things recorded at m_recordTime, by their index in m_toRecord.
    QHash<QString, int> m_recordedNow;
    qint64 m_recordTime = 0;
    bool m_recording = true;
    bool m_flushQueued = false;
};
