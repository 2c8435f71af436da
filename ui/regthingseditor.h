#pragma once

#include <QWidget>

class QPushButton;
class QTableView;
class ThingsRegTableModel;

// The registry page: the device pool as a table, and "Forget Selected" to drop entries from it.
class RegThingsEditor : public QWidget
{
    Q_OBJECT

public:
    explicit RegThingsEditor(QWidget *parent = nullptr);
    ~RegThingsEditor() override;

    ThingsRegTableModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }

signals:
    // The stored pool was changed here; the runner has to take the new pool over.
    void modified();

public slots:
    // Reloads the table from the stored pool.
    void sync();
    // Removes the selected rows, saves the pool once and reports it with one modified().
    void on_forgetButton_clicked();

private:
    ThingsRegTableModel *m_model;
    QTableView *m_view;
    QPushButton *m_forgetButton;
};
