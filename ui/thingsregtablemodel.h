#pragma once

#include <QAbstractTableModel>
#include <QJsonObject>
#include <QList>

// The registry: the entries of the device pool in pool order, one row each, showing type, version,
// serial and alias. Rows are kept as the pool's JSON objects, as the runner is asked to forget them.
class ThingsRegTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum ColumnNames { ColType, ColVersion, ColSerial, ColAlias };
    Q_ENUM(ColumnNames)

    explicit ThingsRegTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    // Replaces the rows with the "devices" of a pool document; elements that are not objects are
    // no device entries and are left out.
    void load(const QJsonObject &pool);
    QList<QJsonObject> records() const { return m_records; }

private:
    QList<QJsonObject> m_records;
};
