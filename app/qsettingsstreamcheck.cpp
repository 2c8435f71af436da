#include "qsettingsstreamcheck.h"

#include <QMetaType>
#include <QtEndian>

namespace {
// Nested lists and maps deeper than this are not something the gateway ever stores.
constexpr int MaxDepth = 16;
// Smallest encodings: a string or byte array is at least its length field, a variant at least its
// type and null flag.
constexpr qint64 MinStringSize = 4;
constexpr qint64 MinVariantSize = 5;
constexpr quint32 NullLength = 0xffffffffu;
} // namespace

QSettingsStreamCheck::QSettingsStreamCheck(const QByteArray &section) : m_data(section) {}

bool QSettingsStreamCheck::isWellFormed(const QByteArray &section)
{
    QSettingsStreamCheck check(section);
    while (check.m_pos < section.size()) {
        if (!check.string() || !check.variant(0))
            return false;
    }
    return true;
}

bool QSettingsStreamCheck::skip(qint64 bytes)
{
    if (bytes < 0 || bytes > m_data.size() - m_pos)
        return false;
    m_pos += bytes;
    return true;
}

bool QSettingsStreamCheck::readU32(quint32 *value)
{
    if (m_data.size() - m_pos < 4)
        return false;
    *value = qFromBigEndian<quint32>(m_data.constData() + m_pos);
    m_pos += 4;
    return true;
}

bool QSettingsStreamCheck::readU8(quint8 *value)
{
    if (m_data.size() - m_pos < 1)
        return false;
    *value = quint8(m_data.at(int(m_pos)));
    m_pos += 1;
    return true;
}

bool QSettingsStreamCheck::readCount(quint32 *count, qint64 minimumElementSize)
{
    if (!readU32(count))
        return false;
    return qint64(*count) * minimumElementSize <= m_data.size() - m_pos;
}

bool QSettingsStreamCheck::string()
{
    quint32 bytes = 0;
    if (!readU32(&bytes))
        return false;
    if (bytes == NullLength)
        return true;
    // UTF-16 code units: an odd byte count is corrupt.
    return (bytes % 2) == 0 && skip(bytes);
}

bool QSettingsStreamCheck::byteArray()
{
    quint32 bytes = 0;
    if (!readU32(&bytes))
        return false;
    return bytes == NullLength || skip(bytes);
}

bool QSettingsStreamCheck::variant(int depth)
{
    if (depth > MaxDepth)
        return false;
    quint32 type = 0;
    quint8 isNull = 0;
    if (!readU32(&type) || !readU8(&isNull))
        return false;

    quint32 count = 0;
    switch (type) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return true;
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return skip(1);
    case QMetaType::QChar:
    case QMetaType::Short:
    case QMetaType::UShort:
        return skip(2);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::QTime:
        return skip(4);
    // long is always written as a 64-bit number, and float at the stream's double precision.
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
    case QMetaType::QDate:
    case QMetaType::QPoint:
    case QMetaType::QSize:
        return skip(8);
    case QMetaType::QRect:
    case QMetaType::QPointF:
    case QMetaType::QSizeF:
    case QMetaType::QLine:
    case QMetaType::QUuid:
        return skip(16);
    case QMetaType::QRectF:
    case QMetaType::QLineF:
        return skip(32);
    case QMetaType::QBitArray: {
        // The unused bits of the last byte must be clear, or QDataStream calls the data corrupt.
        quint32 bits = 0;
        if (!readU32(&bits) || !skip((qint64(bits) + 7) / 8))
            return false;
        return (bits % 8) == 0 || (quint8(m_data.at(int(m_pos - 1))) >> (bits % 8)) == 0;
    }
    case QMetaType::QDateTime: {
        // date, time, time spec; an offset follows for Qt::OffsetFromUTC. Time zones are refused:
        // their id names a file that QTimeZone would go and open.
        quint8 spec = 0;
        if (!skip(12) || !readU8(&spec))
            return false;
        if (spec == 2)
            return skip(4);
        return spec <= 1;
    }
    case QMetaType::QString:
    case QMetaType::QLocale:
        return string();
    case QMetaType::QByteArray:
    case QMetaType::QUrl:
        return byteArray();
    case QMetaType::QStringList:
        if (!readCount(&count, MinStringSize))
            return false;
        for (quint32 i = 0; i < count; ++i) {
            if (!string())
                return false;
        }
        return true;
    case QMetaType::QVariantList:
        if (!readCount(&count, MinVariantSize))
            return false;
        for (quint32 i = 0; i < count; ++i) {
            if (!variant(depth + 1))
                return false;
        }
        return true;
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        if (!readCount(&count, MinStringSize + MinVariantSize))
            return false;
        for (quint32 i = 0; i < count; ++i) {
            if (!string() || !variant(depth + 1))
                return false;
        }
        return true;
    default:
        return false;
    }
}
