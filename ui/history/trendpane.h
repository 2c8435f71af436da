#pragma once

#include "historyrecord.h"
#include "trendquery.h"

#include <QFutureWatcher>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class TrendChart;
namespace QtCharts {
class QChartView;
}

// The trend of the thing selected on the dashboard: its numeric fields over the last hour, day, week
// or month, from the local history and then live from the states the window receives. Queries run
// on the thread pool (the window never waits for the file); an answer to a question no longer asked
// is dropped. Hidden until the first thing is chosen.
class TrendPane : public QWidget
{
    Q_OBJECT

public:
    enum Range { LastHour, LastDay, LastWeek, LastMonth };
    Q_ENUM(Range)

    explicit TrendPane(QWidget *parent = nullptr);
    ~TrendPane() override;

    // The folder of history.db; by default the program's AppDataLocation.
    void setHistoryDirectory(const QString &directory);
    QString historyDirectory() const { return m_directory; }
    static QString defaultDirectory();

    // Shows the pane with the thing's chart (short id; the title is what the dashboard calls it).
    void showThing(const QString &thing, const QString &title);
    QString thing() const { return m_thing; }
    void setRange(Range range);
    Range range() const { return m_range; }
    static qint64 rangeMs(Range range);

    // A state the window received (an empty one: the thing is gone); drawn when it is the shown
    // thing's. time in ms since the epoch.
    void append(qint64 time, const QString &thing, const QJsonObject &state);

    TrendChart *chart() const { return m_chart; }
    bool isLoading() const { return m_watcher.isRunning(); }
    // How long the last query took on its thread, and from the question to the drawn chart.
    qint64 lastQueryMs() const { return m_queryMs; }
    qint64 lastRedrawMs() const { return m_redrawMs; }

public slots:
    void reload();

signals:
    // The answer of a query is drawn.
    void drawn();
    void exportRequested(const QString &thing);

protected:
    void changeEvent(QEvent *event) override;

private:
    void answered();
    void retranslate();
    int bucketsWanted() const;

    QLabel *m_title;
    QLabel *m_status;
    QLabel *m_rangeLabel;
    QComboBox *m_rangeBox;
    QPushButton *m_exportButton;
    QtCharts::QChartView *m_view;
    TrendChart *m_chart;
    QFutureWatcher<TrendData> m_watcher;
    QString m_directory;
    QString m_thing;
    QString m_thingTitle;
    Range m_range = LastDay;
    quint64 m_request = 0;
    bool m_again = false; // asked while a query ran: ask again when it ends
    qint64 m_asked = 0;
    qint64 m_queryMs = 0;
    qint64 m_redrawMs = 0;
};
