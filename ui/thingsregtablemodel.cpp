#include "thingsregtablemodel.h"

#include <QJsonArray>

namespace {
const char *const Members[] = {"type", "version", "serial", "alias"};
constexpr int ColumnCount = int(sizeof(Members) / sizeof(Members[0]));
} // namespace

ThingsRegTableModel::ThingsRegTableModel(QObject *parent) : QAbstractTableModel(parent) {}

int ThingsRegTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_records.size();
}

int ThingsRegTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ThingsRegTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_records.size() ||
        index.column() >= ColumnCount)
        return QVariant();
    // Missing and non-string members show as empty text.
    return m_records.at(index.row()).value(QLatin1String(Members[index.column()])).toString();
}

QVariant ThingsRegTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case ColType:
        return tr("Type");
    case ColVersion:
        return tr("Version");
    case ColSerial:
        return tr("Serial");
    case ColAlias:
        return tr("Alias");
    }
    return QVariant();
}

bool ThingsRegTableModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || count < 1 || row < 0 || row >= m_records.size())
        return false;
    const int last = qMin(row + count, m_records.size()) - 1;
    beginRemoveRows(QModelIndex(), row, last);
    m_records.erase(m_records.begin() + row, m_records.begin() + last + 1);
    endRemoveRows();
    return true;
}

void ThingsRegTableModel::load(const QJsonObject &pool)
{
    if (!m_records.isEmpty()) {
        beginRemoveRows(QModelIndex(), 0, m_records.size() - 1);
        m_records.clear();
        endRemoveRows();
    }
    QList<QJsonObject> records;
    const QJsonArray devices = pool.value(QLatin1String("devices")).toArray();
    for (const QJsonValue &entry : devices) {
        if (entry.isObject())
            records.append(entry.toObject());
    }
    if (records.isEmpty())
        return;
    beginInsertRows(QModelIndex(), 0, records.size() - 1);
    m_records = records;
    endInsertRows();
}
