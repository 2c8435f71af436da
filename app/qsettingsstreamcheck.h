#pragma once

#include <QByteArray>

// Checks a backup's settings section (QDataStream pairs of QString key and QVariant value) before
// QDataStream is let loose on it. The walk allocates nothing: every declared count and length must
// fit in the bytes that are actually there, nesting is bounded, and every value type whose reading
// is plain data is accepted (numbers of every width, text, bytes, dates, geometry, lists and maps).
// Refused are the types whose reading does more than copy data (time zones, images, regular
// expressions, user types). A section that passes can be read with QDataStream without huge
// allocations or deep recursion.
class QSettingsStreamCheck
{
public:
    static bool isWellFormed(const QByteArray &section);

private:
    explicit QSettingsStreamCheck(const QByteArray &section);

    bool skip(qint64 bytes);
    bool readU32(quint32 *value);
    bool readU8(quint8 *value);
    bool readCount(quint32 *count, qint64 minimumElementSize);
    bool string();
    bool byteArray();
    bool variant(int depth);

    const QByteArray &m_data;
    qint64 m_pos = 0;
};
