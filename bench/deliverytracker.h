#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

#include <deque>
#include <mutex>

// Pairs the moment a simulated sensor handed a temperature report to a reader with the moment a
// subscriber received the state message carrying that temperature, and keeps the differences.
// Readings are keyed by source (the sensor's serial) and value in hundredths of a degree, so the
// values a run injects should be whole or half degrees that the sensor publishes unchanged, and
// consecutive values of one sensor should differ by at least half a degree (every one a change).
// Reads and messages come from different threads.
class DeliveryTracker
{
public:
    // Messages on that topic carry the state of that source.
    void watch(const QByteArray &topic, const QString &source);
    // A report left the device; the report is the sensor's input report 0x01.
    void reportRead(const QString &source, const QByteArray &report, qint64 ns);
    // A message arrived; topics not watched and payloads without a temperature are ignored.
    void messageReceived(const QByteArray &topic, const QByteArray &payload, qint64 ns);

    // Latencies in milliseconds, in arrival order, and the number taken so far.
    QVector<double> latenciesMs() const;
    int count() const;
    // Messages that matched no read (or only one older than the staleness limit).
    int unmatched() const;
    // Forgets reads, latencies and counters; keeps the watched topics.
    void reset();

    // A read older than this when its message arrives counts as lost, not as a delivery.
    static constexpr qint64 StaleNs = qint64(10) * 1000000000;

private:
    static QString key(const QString &source, int hundredths);

    mutable std::mutex m_lock;
    QHash<QByteArray, QString> m_topics;
    QHash<QString, std::deque<qint64>> m_reads;
    QVector<double> m_latencies;
    int m_unmatched = 0;
};
