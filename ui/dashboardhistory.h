#pragma once

#include <QObject>

class QAction;
class QTableView;
class ThingsStateTableModel;
class TrendPane;

// The dashboard's way into the history: the trend pane shows the row chosen in the table, and
// "Export history…" is in the row's context menu, behind the given action (the File menu's) and on
// the pane. Lives as long as the table.
class DashboardHistory : public QObject
{
    Q_OBJECT

public:
    DashboardHistory(QTableView *table, ThingsStateTableModel *model, TrendPane *pane, QAction *exportAction);

    // Asks for a device (this one first) and a range, then writes the CSV the user chose.
    void exportHistory(const QString &thing);

private:
    QTableView *m_table;
    ThingsStateTableModel *m_model;
    TrendPane *m_pane;
};
