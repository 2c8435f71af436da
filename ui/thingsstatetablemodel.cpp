#include "thingsstatetablemodel.h"

#include "qmaterialicon.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <iterator>

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
    const auto it = std::next(m_things.constBegin(), index.row());
    const ThingState &thing = it.value();
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
    const auto it = std::next(m_things.begin(), index.row());
    it.value().name = value.toString();
    emit renameRequested(it.key(), it.value().name);
    emit dataChanged(index, index, {Qt::DisplayRole});
    return true;
}

int ThingsStateTableModel::rowOf(const QString &tid) const
{
    return int(std::distance(m_things.constBegin(), m_things.lowerBound(tid)));
}

void ThingsStateTableModel::update(const ThingState &state)
{
    const QString &key = state.shortid;
    auto it = m_things.find(key);
    if (it != m_things.end()) {
        it.value() = state;
        const int row = rowOf(key);
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
        return;
    }
    // Announced at its sorted place, so rows that views hold on to (selection, an open alias
    // editor) keep pointing at their own things.
    const int row = rowOf(key);
    beginInsertRows(QModelIndex(), row, row);
    m_things.insert(key, state);
    endInsertRows();
}

void ThingsStateTableModel::remove(const QString &tid)
{
    if (!m_things.contains(tid))
        return;
    const int row = rowOf(tid);
    beginRemoveRows(QModelIndex(), row, row);
    m_things.remove(tid);
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
    m_things = things;
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
