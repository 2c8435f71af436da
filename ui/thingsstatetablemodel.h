#pragma once

#include "thingstate.h"

#include <QAbstractTableModel>
#include <QJsonValue>
#include <QTimer>
#include <QVector>

// The dashboard: one row per thing, sorted by short id, with its type, serial, alias, current
// state and registration mark. Editing the alias asks for a rename.
//
// Calm under load: a thing that comes or goes is announced at once, but changes of the rows that
// are there are gathered and announced together, one dataChanged per run of adjacent rows, at most
// every CoalesceMs. data() always reads the latest record.
class ThingsStateTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum ColumnNames { ColType, ColSerial, ColAlias, ColState, ColCloud };
    Q_ENUM(ColumnNames)

    static constexpr int CoalesceMs = 50;

    explicit ThingsStateTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // One line of text for a state value: numbers as printf %g, objects as key:value pairs in key
    // order without braces, arrays in brackets; nothing quoted.
    static QString stateText(const QJsonValue &value);

    // The thing of a row (an empty state outside the rows), and every row's, in row order.
    ThingState thingAt(int row) const
    {
        return row >= 0 && row < m_rows.size() ? m_rows.at(row).thing : ThingState();
    }
    ThingStateList things() const;

signals:
    void renameRequested(QString tid, QString alias);

public slots:
    // Records in the order they happened: a gone record removes its row, any other adds or
    // changes one.
    void apply(const ThingStateList &batch);
    void update(const ThingState &state);
    void remove(const QString &tid);
    // Replaces the whole content.
    void reset(const ThingStateList &list);

private:
    struct Row
    {
        ThingState thing;
        QString stateText;    // of thing.state, made once per change rather than on each paint
        bool changed = false; // not announced yet
    };

    // The row a thing has, or would have, in the sorted rows.
    int rowOf(const QString &tid) const;
    bool hasRow(int row, const QString &tid) const;
    void take(const ThingState &state);
    // Announces the rows changed since the last time.
    void announceChanges();

    // Sorted by short id: a row is found by binary search and read by its index, so a change of one
    // thing costs the same with a thousand rows as with two, however often the view asks for data.
    QVector<Row> m_rows;
    QTimer m_announce;
};
