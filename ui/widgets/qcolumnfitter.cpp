#include "qcolumnfitter.h"

#include <QAbstractItemModel>
#include <QTableView>

QColumnFitter::QColumnFitter(QTableView *view, const QList<int> &columns, int slowMs)
    : QObject(view), m_view(view), m_columns(columns)
{
    m_soon.setSingleShot(true);
    m_soon.setInterval(0);
    m_slow.setSingleShot(true);
    m_slow.setInterval(slowMs);
    connect(&m_soon, &QTimer::timeout, this, &QColumnFitter::fit);
    connect(&m_slow, &QTimer::timeout, this, [this] {
        if (m_stale)
            fit();
    });
    watchModel();
}

void QColumnFitter::watchModel()
{
    for (const QMetaObject::Connection &connection : qAsConst(m_connections))
        disconnect(connection);
    m_connections.clear();
    QAbstractItemModel *model = m_view->model();
    if (!model)
        return;
    m_connections << connect(model, &QAbstractItemModel::rowsInserted, this, &QColumnFitter::rowsCameOrWent)
                  << connect(model, &QAbstractItemModel::rowsRemoved, this, &QColumnFitter::rowsCameOrWent)
                  << connect(model, &QAbstractItemModel::modelReset, this, &QColumnFitter::rowsCameOrWent)
                  << connect(model, &QAbstractItemModel::layoutChanged, this, &QColumnFitter::rowsCameOrWent)
                  << connect(model, &QAbstractItemModel::dataChanged, this, &QColumnFitter::textsChanged);
    rowsCameOrWent();
}

void QColumnFitter::fit()
{
    m_soon.stop();
    m_stale = false;
    for (int column : qAsConst(m_columns))
        m_view->resizeColumnToContents(column);
}

void QColumnFitter::rowsCameOrWent()
{
    m_soon.start();
}

void QColumnFitter::textsChanged()
{
    m_stale = true;
    if (!m_slow.isActive())
        m_slow.start();
}
