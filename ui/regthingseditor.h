#pragma once

#include <QWidget>

class QPushButton;
class QTableView;
class RunnerHost;
class ThingsRegTableModel;

// The registry page: the device pool as a table, and "Forget Selected" to drop entries from it. The
// runner alone writes the pool: forgetting is asked of it, and the table shows the pool it returns.
class RegThingsEditor : public QWidget
{
    Q_OBJECT

public:
    explicit RegThingsEditor(QWidget *parent = nullptr);
    ~RegThingsEditor() override;

    // The runner that forgets entries; without one, "Forget Selected" does nothing.
    void attach(RunnerHost *host) { m_host = host; }

    ThingsRegTableModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }

signals:
    // Entries were forgotten, and the runner has taken the new pool over.
    void modified();

public slots:
    // Reloads the table from the stored pool.
    void sync();
    // Asks the runner to forget the selected entries; the table shows the pool it returns, and one
    // modified() follows.
    void on_forgetButton_clicked();

private:
    ThingsRegTableModel *m_model;
    QTableView *m_view;
    QPushButton *m_forgetButton;
    RunnerHost *m_host = nullptr;
};
