#include "dashboardhistory.h"

#include "historyexport.h"
#include "thingsstatetablemodel.h"
#include "trendpane.h"

#include <QAction>
#include <QMenu>
#include <QTableView>

DashboardHistory::DashboardHistory(QTableView *table, ThingsStateTableModel *model, TrendPane *pane,
                                   QAction *exportAction)
    : QObject(table), m_table(table), m_model(model), m_pane(pane)
{
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected) {
                // A row that goes away is deselected: the pane keeps its thing, and shows the gap.
                if (selected.isEmpty())
                    return;
                const ThingState thing = m_model->thingAt(selected.indexes().constFirst().row());
                m_pane->showThing(thing.shortid, thing.name);
            });
    connect(table, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const QModelIndex index = m_table->indexAt(at);
        if (!index.isValid())
            return;
        const QString thing = m_model->thingAt(index.row()).shortid;
        QMenu menu(m_table);
        menu.addAction(tr("Export history…"), this, [this, thing] { exportHistory(thing); });
        menu.exec(m_table->viewport()->mapToGlobal(at));
    });
    connect(exportAction, &QAction::triggered, this, [this] { exportHistory(m_pane->thing()); });
    connect(pane, &TrendPane::exportRequested, this, &DashboardHistory::exportHistory);
}

void DashboardHistory::exportHistory(const QString &thing)
{
    QVector<QPair<QString, QString>> things;
    for (const ThingState &row : m_model->things())
        things.append({row.shortid, row.name});
    HistoryExportDialog::run(m_pane->historyDirectory(), things, thing, m_table->window());
}
