#include "qsseparser.h"

#include <QTextCodec>
#include <QTextDecoder>

namespace {

QTextDecoder *makeUtf8Decoder(QTextCodec::ConversionFlags flags)
{
    return QTextCodec::codecForMib(106)->makeDecoder(flags); // 106: UTF-8
}

bool isAsciiNumber(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

QSSEParser::QSSEParser(int maxLineLength, int maxDataLength)
    : m_maxLineLength(maxLineLength), m_maxDataLength(maxDataLength)
{
    reset();
}

QSSEParser::~QSSEParser() = default;

void QSSEParser::reset()
{
    // A byte order mark at the very start of a stream is dropped, anywhere else it is text.
    m_decoder.reset(makeUtf8Decoder(QTextCodec::DefaultConversion));
    m_line.clear();
    m_event.clear();
    m_data.clear();
    m_lastEventId.clear();
    m_retry = DefaultRetry;
    m_afterCarriageReturn = false;
    m_discardingLine = false;
    m_discardingEvent = false;
}

QVector<QSSEParser::Event> QSSEParser::feed(const QByteArray &block)
{
    QVector<Event> events;
    const int nul = block.indexOf('\0');
    const int length = nul < 0 ? block.size() : nul;
    // The decoder loses a pending partial sequence when handed no bytes at all.
    const QString text = length > 0 ? m_decoder->toUnicode(block.constData(), length) : QString();
    if (nul >= 0) {
        // The rest of the block is dropped, so a sequence left open before the NUL cannot be
        // completed by the next block.
        m_decoder.reset(makeUtf8Decoder(QTextCodec::IgnoreHeader));
    }

    const QChar *chars = text.constData();
    const int size = text.size();
    int pos = 0;
    if (size > 0 && m_afterCarriageReturn) {
        if (chars[0] == QLatin1Char('\n'))
            pos = 1;
        m_afterCarriageReturn = false;
    }
    while (pos < size) {
        int end = pos;
        while (end < size && chars[end] != QLatin1Char('\n') && chars[end] != QLatin1Char('\r'))
            ++end;
        appendToLine(chars + pos, end - pos);
        if (end == size)
            break;
        endLine(events);
        if (chars[end] == QLatin1Char('\r')) {
            if (end + 1 == size)
                m_afterCarriageReturn = true;
            else if (chars[end + 1] == QLatin1Char('\n'))
                ++end;
        }
        pos = end + 1;
    }
    return events;
}

void QSSEParser::appendToLine(const QChar *text, int length)
{
    if (m_discardingLine || length == 0)
        return;
    if (length > m_maxLineLength - m_line.size()) {
        m_line.clear(); // releases the buffer
        m_discardingLine = true;
        return;
    }
    m_line.append(text, length);
}

void QSSEParser::endLine(QVector<Event> &events)
{
    if (m_discardingLine) {
        m_discardingLine = false;
        return;
    }
    const QString line = m_line;
    m_line.clear();
    processLine(line, events);
}

void QSSEParser::processLine(const QString &line, QVector<Event> &events)
{
    if (line.startsWith(QLatin1Char(':')))
        return; // comment
    const int colon = line.indexOf(QLatin1Char(':'));
    const QString name = (colon < 0 ? line : line.left(colon)).trimmed();
    const QString value = colon < 0 ? QString() : line.mid(colon + 1).trimmed();
    if (name.isEmpty() && value.isEmpty() && colon < 0) {
        dispatch(events); // empty or blank line
        return;
    }
    if (name == QLatin1String("data")) {
        if (m_discardingEvent)
            return;
        if (value.size() >= m_maxDataLength - m_data.size()) {
            m_data.clear();
            m_discardingEvent = true;
            return;
        }
        m_data += value;
        m_data += QLatin1Char('\n');
    } else if (name == QLatin1String("event")) {
        m_event = value;
    } else if (name == QLatin1String("id")) {
        if (!value.isEmpty())
            m_lastEventId = value;
    } else if (name == QLatin1String("retry")) {
        bool ok = false;
        const int retry = value.toInt(&ok, 10);
        if (ok && isAsciiNumber(value))
            m_retry = retry;
    }
}

void QSSEParser::dispatch(QVector<Event> &events)
{
    if (!m_data.isEmpty() && !m_discardingEvent) {
        m_data.chop(1);
        events.append({m_event, m_data, m_lastEventId});
    }
    m_event.clear();
    m_data.clear();
    m_discardingEvent = false;
}
