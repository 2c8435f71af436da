#pragma once

#include <QByteArray>
#include <QHash>
#include <QVector>

#include <mutex>

// Round trips of numbered messages: the sender notes when message n left, the receiver when a
// payload "n" arrived. Sender and receiver may be different threads.
class EchoTracker
{
public:
    void sent(int sequence, qint64 ns);
    // Payloads that are no pending sequence number are ignored.
    void received(const QByteArray &payload, qint64 ns);
    bool hasArrived(int sequence) const;
    QVector<double> latenciesMs() const;

private:
    mutable std::mutex m_lock;
    QHash<int, qint64> m_pending;
    QHash<int, bool> m_arrived;
    QVector<double> m_latencies;
};
