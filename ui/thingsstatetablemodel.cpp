#include "thingsstatetablemodel.h"

#include "qmaterialicon.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <algorithm>

namespace {

constexpr int ColumnCount = 5;

} // namespace

ThingsStateTableModel::ThingsStateTableModel(QObject *parent) : QAbstractTableModel(parent) {}

int ThingsStateTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_things.size();
}

int ThingsStateTableModel::columnCount(const QModelIndex &parent) const
{
    Q_UNUSED(parent)
    return ColumnCount;
}

Qt::ItemFlags ThingsStateTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() == ColAlias)
        result |= Qt::ItemIsEditable;
    return result;
}

QVariant ThingsStateTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_things.size() || index.column() < 0 ||
        index.column() >= ColumnCount)
        return QVariant();
    const ThingState &thing = m_things.at(index.row());
    switch (index.column()) {
    case ColType:
        if (role == Qt::DisplayRole)
            return thing.shortid.section(QLatin1Char('_'), 0, 0);
        if (role == Qt::ToolTipRole)
            return thing.shortid;
        break;
    case ColSerial:
        // Everything after type and version, so that a serial holding "_" is shown whole.
        if (role == Qt::DisplayRole)
            return thing.shortid.section(QLatin1Char('_'), 2);
        break;
    case ColAlias:
        if (role == Qt::DisplayRole)
            return thing.name;
        break;
    case ColState:
        if (role == Qt::DisplayRole)
            return stateText(thing.state);
        break;
    case ColCloud:
        if (role == Qt::DisplayRole)
            return thing.regid.isEmpty() ? tr("No") : tr("Yes");
        if (role == Qt::DecorationRole) {
            const QMaterialIcon::Color color = thing.gone              ? QMaterialIcon::Error
                                               : thing.regid.isEmpty() ? QMaterialIcon::Warning
                                                                       : QMaterialIcon::Success;
            return QMaterialIcon::instance()->color(color);
        }
        break;
    }
    return QVariant();
}

QVariant ThingsStateTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case ColType:
        return tr("Type");
    case ColSerial:
        return tr("Serial");
    case ColAlias:
        return tr("Alias");
    case ColState:
        return tr("State");
    case ColCloud:
        return tr("Reg. ID");
    }
    return QVariant();
}

bool ThingsStateTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != ColAlias || index.row() < 0 ||
        index.row() >= m_things.size())
        return false;
    ThingState &thing = m_things[index.row()];
    thing.name = value.toString();
    emit renameRequested(thing.shortid, thing.name);
    emit dataChanged(index, index, {Qt::DisplayRole});
    return true;
}

int ThingsStateTableModel::rowOf(const QString &tid) const
{
    const auto at =
        std::lower_bound(m_things.cbegin(), m_things.cend(), tid,
                         [](const ThingState &thing, const QString &id) { return thing.shortid < id; });
    return int(at - m_things.cbegin());
}

bool ThingsStateTableModel::hasRow(int row, const QString &tid) const
{
    return row < m_things.size() && m_things.at(row).shortid == tid;
}

void ThingsStateTableModel::update(const ThingState &state)
{
    const int row = rowOf(state.shortid);
    if (hasRow(row, state.shortid)) {
        m_things[row] = state;
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
        return;
    }
    // Announced at its sorted place, so rows that views hold on to (selection, an open alias
    // editor) keep pointing at their own things.
    beginInsertRows(QModelIndex(), row, row);
    m_things.insert(row, state);
    endInsertRows();
}

void ThingsStateTableModel::remove(const QString &tid)
{
    const int row = rowOf(tid);
    if (!hasRow(row, tid))
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_things.remove(row);
    endRemoveRows();
}

void ThingsStateTableModel::reset(const ThingStateList &list)
{
    if (!m_things.isEmpty()) {
        beginRemoveRows(QModelIndex(), 0, m_things.size() - 1);
        m_things.clear();
        endRemoveRows();
    }
    // A later record of the same thing wins; only the distinct things are announced as rows.
    QMap<QString, ThingState> things;
    for (const ThingState &state : list)
        things.insert(state.shortid, state);
    if (things.isEmpty())
        return;
    beginInsertRows(QModelIndex(), 0, things.size() - 1);
    m_things.reserve(things.size());
    for (const ThingState &state : qAsConst(things))
        m_things.append(state);
    endInsertRows();
}

QString ThingsStateTableModel::stateText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', 6);
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Array: {
        QStringList items;
        const QJsonArray array = value.toArray();
        for (const QJsonValue &item : array)
            items.append(stateText(item));
        return QLatin1Char('[') + items.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        QStringList keys = object.keys();
        std::sort(keys.begin(), keys.end());
        QStringList items;
        for (const QString &key : qAsConst(keys))
            items.append(key + QLatin1Char(':') + stateText(object.value(key)));
        return items.join(QLatin1Char(','));
    }
    }
    return QString();
}
