#include "historycsvwriter.h"

#include "historyreader.h"

#include <QDateTime>
#include <QIODevice>
#include <QLocale>

#include <cstdio>

namespace {

constexpr qint64 OffsetBlockMs = 15 * 60 * 1000; // offsets change on quarter hours at most

QByteArray valueText(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::LongLong:
        return QByteArray::number(value.toLongLong());
    case QMetaType::Double:
        return QByteArray::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    default:
        return HistoryCsvWriter::escaped(value.toString());
    }
}

} // namespace

QByteArray HistoryCsvWriter::escaped(const QString &field)
{
    QByteArray text = field.toUtf8();
    if (text.contains(',') || text.contains('"') || text.contains('\r') || text.contains('\n'))
        return '"' + text.replace('"', "\"\"") + '"';
    return text;
}

QByteArray HistoryCsvWriter::timeText(qint64 ms)
{
    const qint64 block = ms >= 0 ? ms / OffsetBlockMs : (ms + 1) / OffsetBlockMs - 1;
    if (block != m_offsetBlock) {
        m_offsetBlock = block;
        m_offsetSeconds = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
    }
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms + m_offsetSeconds * 1000LL, Qt::UTC);
    const QDate date = local.date();
    const QTime time = local.time();
    const int offset = qAbs(m_offsetSeconds) / 60;
    char text[40];
    const int length =
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", date.year(),
                      date.month(), date.day(), time.hour(), time.minute(), time.second(), time.msec(),
                      m_offsetSeconds < 0 ? '-' : '+', offset / 60, offset % 60);
    return QByteArray(text, qBound(0, length, int(sizeof text) - 1));
}

bool HistoryCsvWriter::writeChunk(QIODevice *out, QByteArray &chunk)
{
    if (out->write(chunk) != chunk.size()) {
        m_error = out->errorString();
        return false;
    }
    chunk.clear();
    return true;
}

HistoryCsvWriter::Result HistoryCsvWriter::write(QIODevice *out, qint64 from, qint64 to)
{
    m_rows = 0;
    m_error.clear();
    QByteArray chunk = "time,thing,field,value\r\n";
    chunk.reserve(ChunkBytes + 1024);
    const std::unique_ptr<HistoryCursor> rows = m_reader.rows(from, to, m_thing);
    const double span = double(qMax<qint64>(1, to - from));
    HistoryRow row;
    while (!m_cancelled && rows->next(&row)) {
        chunk += timeText(row.time);
        chunk += ',';
        chunk += escaped(row.thing);
        chunk += ',';
        chunk += escaped(row.field);
        chunk += ',';
        chunk += valueText(row.value);
        chunk += "\r\n";
        ++m_rows;
        if (chunk.size() >= ChunkBytes) {
            if (!writeChunk(out, chunk))
                return Failed;
            if (m_progress)
                m_progress(qBound(0.0, double(row.time - from) / span, 1.0));
        }
    }
    if (m_cancelled)
        return Cancelled;
    if (rows->failed()) {
        m_error = m_reader.errorString();
        return Failed;
    }
    if (!writeChunk(out, chunk))
        return Failed;
    if (m_progress)
        m_progress(1.0);
    return Written;
}
