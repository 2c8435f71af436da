#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QVector>

// One state a thing announced, as the core hands it to the history. Each field of the state becomes
// one row: numbers as numbers, booleans as 0 and 1, text as text; a nested object or array is kept
// as its compact JSON text (a text field, so it never appears in charts); null fields are left out.
// A state without fields says the thing is gone (unplugged, out of reach) from that time until the
// next state it announces.
struct HistoryRecord
{
    qint64 time = 0; // ms since the epoch, UTC
    QString thing;   // the short id, e.g. "thx9_1_A1B2" or "gateway_1_?"
    QJsonObject state;

    bool isGone() const { return state.isEmpty(); }
    static HistoryRecord gone(qint64 time, const QString &thing) { return {time, thing, QJsonObject()}; }
};

using HistoryBatch = QVector<HistoryRecord>;
Q_DECLARE_METATYPE(HistoryBatch)
