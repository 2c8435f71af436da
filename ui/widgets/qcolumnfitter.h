#pragma once

#include <QList>
#include <QObject>
#include <QTimer>

class QTableView;

// Keeps some columns of a table as wide as their contents without measuring them on every change:
// they are fitted once rows come or go (after the burst, in the next turn of the event loop), and
// while only texts change, at most every slowMs.
class QColumnFitter : public QObject
{
    Q_OBJECT

public:
    QColumnFitter(QTableView *view, const QList<int> &columns, int slowMs = 2000);

    // Watches the view's current model; call again when the view gets another one.
    void watchModel();

public slots:
    void fit();

private:
    void rowsCameOrWent();
    void textsChanged();

    QTableView *m_view;
    QList<int> m_columns;
    QTimer m_soon;
    QTimer m_slow;
    bool m_stale = false;
    QList<QMetaObject::Connection> m_connections;
};
