#include "echotracker.h"

void EchoTracker::sent(int sequence, qint64 ns)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending.insert(sequence, ns);
}

void EchoTracker::received(const QByteArray &payload, qint64 ns)
{
    bool ok = false;
    const int sequence = payload.toInt(&ok);
    std::lock_guard<std::mutex> guard(m_lock);
    if (!ok || !m_pending.contains(sequence))
        return;
    m_latencies.append(double(ns - m_pending.take(sequence)) / 1e6);
    m_arrived.insert(sequence, true);
}

bool EchoTracker::hasArrived(int sequence) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_arrived.value(sequence);
}

QVector<double> EchoTracker::latenciesMs() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_latencies;
}
