#include "thingsstatetablemodel.h"

#include "qmaterialicon.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <algorithm>

namespace {

constexpr int ColumnCount = 5;

} // namespace

ThingsStateTableModel::ThingsStateTableModel(QObject *parent) : QAbstractTableModel(parent)
{
    m_announce.setSingleShot(true);
    m_announce.setInterval(CoalesceMs);
    connect(&m_announce, &QTimer::timeout, this, &ThingsStateTableModel::announceChanges);
}

int ThingsStateTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
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
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows.size() || index.column() < 0 ||
        index.column() >= ColumnCount)
        return QVariant();
    const Row &row = m_rows.at(index.row());
    const ThingState &thing = row.thing;
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
            return row.stateText;
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
        index.row() >= m_rows.size())
        return false;
    ThingState &thing = m_rows[index.row()].thing;
    thing.name = value.toString();
    emit renameRequested(thing.shortid, thing.name);
    emit dataChanged(index, index, {Qt::DisplayRole});
    return true;
}

int ThingsStateTableModel::rowOf(const QString &tid) const
{
    const auto at =
        std::lower_bound(m_rows.cbegin(), m_rows.cend(), tid,
                         [](const Row &row, const QString &id) { return row.thing.shortid < id; });
    return int(at - m_rows.cbegin());
}

bool ThingsStateTableModel::hasRow(int row, const QString &tid) const
{
    return row < m_rows.size() && m_rows.at(row).thing.shortid == tid;
}

void ThingsStateTableModel::apply(const ThingStateList &batch)
{
    for (const ThingState &state : batch) {
        if (state.gone)
            remove(state.shortid);
        else
            take(state);
    }
}

void ThingsStateTableModel::update(const ThingState &state)
{
    take(state);
}

void ThingsStateTableModel::take(const ThingState &state)
{
    const int at = rowOf(state.shortid);
    if (hasRow(at, state.shortid)) {
        Row &row = m_rows[at];
        if (row.thing == state)
            return;
        if (row.thing.state != state.state)
            row.stateText = stateText(state.state);
        row.thing = state;
        row.changed = true;
        if (!m_announce.isActive())
            m_announce.start();
        return;
    }
    // Announced at its sorted place, so rows that views hold on to (selection, an open alias
    // editor) keep pointing at their own things.
    beginInsertRows(QModelIndex(), at, at);
    m_rows.insert(at, {state, stateText(state.state), false});
    endInsertRows();
}

void ThingsStateTableModel::remove(const QString &tid)
{
    const int row = rowOf(tid);
    if (!hasRow(row, tid))
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.remove(row);
    endRemoveRows();
}

void ThingsStateTableModel::reset(const ThingStateList &list)
{
    if (!m_rows.isEmpty()) {
        beginRemoveRows(QModelIndex(), 0, m_rows.size() - 1);
        m_rows.clear();
        endRemoveRows();
    }
    // A later record of the same thing wins; only the distinct things are announced as rows.
    QMap<QString, ThingState> things;
    for (const ThingState &state : list)
        things.insert(state.shortid, state);
    if (things.isEmpty())
        return;
    beginInsertRows(QModelIndex(), 0, things.size() - 1);
    m_rows.reserve(things.size());
    for (const ThingState &state : qAsConst(things))
        m_rows.append({state, stateText(state.state), false});
    endInsertRows();
}

void ThingsStateTableModel::announceChanges()
{
    for (int first = 0; first < m_rows.size(); ++first) {
        if (!m_rows.at(first).changed)
            continue;
        int last = first;
        while (last < m_rows.size() && m_rows.at(last).changed)
            m_rows[last++].changed = false;
        emit dataChanged(index(first, 0), index(last - 1, ColumnCount - 1));
        first = last;
    }
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

ThingStateList ThingsStateTableModel::things() const
{
    ThingStateList list;
    list.reserve(m_rows.size());
    for (const Row &row : m_rows)
        list.append(row.thing);
    return list;
}
