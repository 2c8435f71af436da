#include "deliverytracker.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

QString DeliveryTracker::key(const QString &source, int hundredths)
{
    return source + QLatin1Char('/') + QString::number(hundredths);
}

void DeliveryTracker::watch(const QByteArray &topic, const QString &source)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_topics.insert(topic, source);
}

void DeliveryTracker::reportRead(const QString &source, const QByteArray &report, qint64 ns)
{
    if (report.size() < 3 || report.at(0) != 0x01)
        return;
    const auto hundredths = qint16(quint16(uchar(report.at(1)) | uchar(report.at(2)) << 8));
    std::lock_guard<std::mutex> guard(m_lock);
    m_reads[key(source, hundredths)].push_back(ns);
}

void DeliveryTracker::messageReceived(const QByteArray &topic, const QByteArray &payload, qint64 ns)
{
    const QJsonValue t = QJsonDocument::fromJson(payload).object().value(QStringLiteral("t"));
    std::lock_guard<std::mutex> guard(m_lock);
    const auto source = m_topics.constFind(topic);
    if (source == m_topics.constEnd() || !t.isDouble())
        return;
    auto reads = m_reads.find(key(source.value(), int(std::lround(t.toDouble() * 100))));
    // The oldest pending read of that value that is not stale.
    while (reads != m_reads.end() && !reads->empty() && ns - reads->front() > StaleNs)
        reads->pop_front();
    if (reads == m_reads.end() || reads->empty() || reads->front() > ns) {
        ++m_unmatched;
        return;
    }
    m_latencies.append(double(ns - reads->front()) / 1e6);
    reads->pop_front();
}

QVector<double> DeliveryTracker::latenciesMs() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_latencies;
}

int DeliveryTracker::count() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_latencies.size();
}

int DeliveryTracker::unmatched() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_unmatched;
}

void DeliveryTracker::reset()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_reads.clear();
    m_latencies.clear();
    m_unmatched = 0;
}
