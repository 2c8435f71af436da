#pragma once

#include "outbox.h"

#include <QObject>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

class QTimer;

// The state reports on their way to the broker: the outbox they wait in (opened at first use), the
// window of reports sent ahead of their acknowledgements (at most Cloud/InFlight), the commits that
// put waiting reports on disk, and the backlog as it is announced. The cloud client hands what
// nextToSend() gives to the MQTT library and tells this queue what became of it.
class ReportQueue : public QObject
{
    Q_OBJECT

public:
    // connected tells whether reports can be on their way (the backlog leaves those out).
    explicit ReportQueue(std::function<bool()> connected, QObject *parent = nullptr);
    ~ReportQueue() override;

    Outbox &outbox();
    // The outbox bounds and the in-flight limit from the settings.
    void applySettings();
    int inFlightLimit() const { return m_inFlightLimit; }
    int inFlight() const { return int(m_inflight.size()); }
    OutboxBacklog backlog();
    void discard();

    void append(const QString &tid, const QByteArray &payload);
    // The next report to send, in queue order, or null when none waits or the window is full.
    const Outbox::Entry *nextToSend();
    // The library took the report under this packet id.
    void sent(quint16 packet, qint64 id);
    // The report is given up (and counted as dropped).
    void drop(qint64 id);
    // The broker acknowledged this packet: its report leaves. False for a packet not in flight.
    bool acknowledged(quint16 packet);
    // The connection ended: whatever was in flight goes again, from the oldest report on.
    void restart();
    // Announces the backlog now if it changed (and keeps looking while anything waits).
    void announceBacklog();
    // Commits when it is due (see the definition).
    void scheduleCommit();

signals:
    // At most once a second, when the figures change.
    void backlogChanged(const OutboxBacklog &backlog);

private:
    void touched();

    struct Sent
    {
        quint16 packet;
        qint64 id; // in the outbox
    };

    std::function<bool()> m_connected;
    std::unique_ptr<Outbox> m_outbox; // null until first used
    std::vector<Sent> m_inflight;     // reports awaiting their acknowledgements, in sending order
    qint64 m_lastSent = 0;            // outbox id of the newest report handed to the library
    int m_inFlightLimit = 20;
    QTimer *m_backlogTimer;
    QTimer *m_commitTimer;
    OutboxBacklog m_announced;
};
